#include "encrypt.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

namespace {

// Collects what the code under test logs, each line after "C" when critical.
class LogCapture {
public:
    LogCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QString all() const { return s_lines.join(QString()); }
    // The three critical messages of one failure: the fixed text, the cause, an empty line.
    bool hasFailure(const QString& first) const
    {
        return s_lines.size() == 3 && s_lines.at(0) == "C" + first + '\n' && s_lines.at(1).startsWith('C')
            && s_lines.at(1).size() > 2 && s_lines.at(1).endsWith('\n') && s_lines.at(2) == "C\n";
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        s_lines.append((type == QtCriticalMsg ? "C" : "-") + text);
    }
    static QStringList s_lines;
    QtMessageHandler m_previous;
};
QStringList LogCapture::s_lines;

const QString InvalidArgument = QStringLiteral("Caught InvalidArgument...");
const QString HashVerificationFailed = QStringLiteral("Caught HashVerificationFailed...");

// Each key is a prefix of the longer ones.
QString asciiKey(int length)
{
    QString key;
    for (int i = 0; i < length; ++i)
        key += QChar('!' + (i * 7) % 90);
    return key;
}

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (char& c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    return data;
}

bool isUpperHex(const QByteArray& text)
{
    return QRegularExpression(QStringLiteral("^[0-9A-F]*$")).match(QString::fromLatin1(text)).hasMatch();
}

} // namespace

class tst_Encrypt : public QObject {
    Q_OBJECT

private:
    QJsonArray runPeer(const QJsonArray& operations)
    {
        QProcess peer;
        peer.start(m_python, { QStringLiteral(GELV_TEST_DATA_DIR "/gcm_peer.py") });
        if (!peer.waitForStarted(20000))
            return QJsonArray();
        peer.write(QJsonDocument(operations).toJson(QJsonDocument::Compact));
        peer.closeWriteChannel();
        if (!peer.waitForFinished(30000) || peer.exitCode() != 0) {
            qWarning() << "python peer failed:" << peer.readAllStandardError();
            return QJsonArray();
        }
        return QJsonDocument::fromJson(peer.readAllStandardOutput()).array();
    }

    QString m_python;

private slots:
    void initTestCase()
    {
        QProcess probe;
        probe.start(QStringLiteral("python3"), { QStringLiteral("-c"), QStringLiteral("import cryptography") });
        if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            m_python = QStringLiteral("python3");
    }

    void outputLengths_data()
    {
        QTest::addColumn<int>("size");
        for (int size : { 0, 1024 * 1024 })
            QTest::addRow("%d", size) << size;
    }

    void outputLengths()
    {
        QFETCH(int, size);
        const QByteArray data = randomBytes(size);
        Zq::Encrypt encrypt;
        const QByteArray keyText = encrypt.EncryptWithKey(asciiKey(64), data);
        const QByteArray passwordText = encrypt.EncryptWithPassword(QStringLiteral("Pa55word!"), data);
        QCOMPARE(keyText.size(), 32 + 2 * (size + 12));
        QCOMPARE(passwordText.size(), 64 + 2 * (size + 12));
        QVERIFY(isUpperHex(keyText) && isUpperHex(passwordText));
        QVERIFY(encrypt.DecryptWithKey(asciiKey(64), keyText, false) == data);
        QVERIFY(encrypt.DecryptWithPassword(QStringLiteral("Pa55word!"), passwordText) == data);
    }

    void anyChangedDigitFailsAuthentication_data()
    {
        QTest::addColumn<bool>("password");
        QTest::newRow("key") << false;
        QTest::newRow("password") << true;
    }

    // Regression: a tag mismatch used to return the decrypted, unauthenticated bytes.
    void anyChangedDigitFailsAuthentication()
    {
        QFETCH(bool, password);
        const QString secret = asciiKey(48);
        Zq::Encrypt encrypt;
        const QByteArray text = password ? encrypt.EncryptWithPassword(secret, "exposure=2.5")
                                         : encrypt.EncryptWithKey(secret, "exposure=2.5");
        for (int at = 0; at < text.size(); ++at) {
            QByteArray changed = text;
            changed[at] = text.at(at) == '0' ? '1' : '0';
            LogCapture log;
            const QByteArray result = password ? encrypt.DecryptWithPassword(secret, changed)
                                               : encrypt.DecryptWithKey(secret, changed, false);
            QVERIFY2(result.isEmpty(), qPrintable(QStringLiteral("digit %1 changed, yet %2").arg(at).arg(QString(result))));
            QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
        }
    }

    void failureGivesEmptyResult_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("salted");
        QTest::addColumn<QString>("failure");
        const QString key = asciiKey(32);
        const QByteArray valid = Zq::Encrypt().EncryptWithKey(key, "abcdefgh");
        QTest::newRow("key 31") << asciiKey(31) << valid << false << InvalidArgument;
        QTest::newRow("key 34") << asciiKey(34) << valid << false << InvalidArgument;
        // 20 UTF-16 units, 40 UTF-8 bytes: only 10 are taken.
        QTest::newRow("key non-ascii 20") << QString(20, QChar(0x00e9)) << valid << false << InvalidArgument;
        QTest::newRow("one digit cut") << key << valid.chopped(1) << false << HashVerificationFailed;
        QTest::newRow("only the IV") << key << valid.left(32) << false << HashVerificationFailed;
        QTest::newRow("shorter than an IV") << key << QByteArray("0123456789ABCDEF") << false << HashVerificationFailed;
        QTest::newRow("empty") << key << QByteArray() << false << InvalidArgument;
        QTest::newRow("salted, nothing after the salt") << key << QByteArray(32, 'A') << true << InvalidArgument;
        QTest::newRow("salted, short") << key << QByteArray(40, 'A') << true << HashVerificationFailed;
    }

    // Regression: a rejected key used to give the IV (and salt) hex alone,
    // which callers sent to printers and wrote to files as if encrypted.
    void failureGivesEmptyResult()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, text);
        QFETCH(bool, salted);
        QFETCH(QString, failure);
        Zq::Encrypt encrypt;
        if (key != asciiKey(32)) {
            LogCapture log;
            QCOMPARE(encrypt.EncryptWithKey(key, "some document"), QByteArray());
            QVERIFY2(log.hasFailure(InvalidArgument), qPrintable(log.all()));
        }
        LogCapture log;
        QCOMPARE(encrypt.DecryptWithKey(key, text, salted), QByteArray());
        QVERIFY2(log.hasFailure(failure), qPrintable(log.all()));
    }

    void hexIsReadLeniently()
    {
        Zq::Encrypt encrypt;
        const QString key = asciiKey(64);
        const QByteArray text = encrypt.EncryptWithKey(key, "lenient");
        QCOMPARE(encrypt.DecryptWithKey(key, text.toLower(), false), QByteArray("lenient"));
        // Also within the IV and the salt, which used to shift the split.
        const auto spaced = [](const QByteArray& hex) {
            QByteArray result;
            for (int i = 0; i < hex.size(); ++i)
                result += hex.at(i) + QByteArray(i % 3 ? " " : "\r\n");
            return result;
        };
        QCOMPARE(encrypt.DecryptWithKey(key, spaced(text), false), QByteArray("lenient"));
        const QByteArray salted = encrypt.EncryptWithPassword(QStringLiteral("pw"), "lenient");
        QCOMPARE(encrypt.DecryptWithPassword(QStringLiteral("pw"), salted.toLower()), QByteArray("lenient"));
        QCOMPARE(encrypt.DecryptWithPassword(QStringLiteral("pw"), spaced(salted)), QByteArray("lenient"));
    }

    void eachEncryptionIsFresh()
    {
        const QString key = asciiKey(32);
        const QString password = QStringLiteral("Abc123!x");
        Zq::Encrypt encrypt;
        const QByteArray a = encrypt.EncryptWithKey(key, "same"), b = encrypt.EncryptWithKey(key, "same");
        const QByteArray c = encrypt.EncryptWithPassword(password, "same");
        const QByteArray d = encrypt.EncryptWithPassword(password, "same");
        QVERIFY(a.left(32) != b.left(32));
        QVERIFY(c.left(32) != d.left(32) && c.mid(32, 32) != d.mid(32, 32));
        QCOMPARE(encrypt.DecryptWithKey(key, a, false) + encrypt.DecryptWithKey(key, b, false), QByteArray("samesame"));
        QCOMPARE(encrypt.DecryptWithPassword(password, c) + encrypt.DecryptWithPassword(password, d),
            QByteArray("samesame"));
    }

    // Regression: the hex prefix lived in the object, so a failed call could
    // leave a salt or IV in front of the next call's result.
    void noStateCarriesBetweenCalls()
    {
        Zq::Encrypt encrypt;
        const QString key = asciiKey(32);
        const QString password = QStringLiteral("Abc123!x");
        LogCapture log;
        const QByteArray salted = encrypt.EncryptWithPassword(password, "one");
        QCOMPARE(encrypt.EncryptWithKey(asciiKey(31), "two"), QByteArray());
        const QByteArray unsalted = encrypt.EncryptWithKey(key, "three");
        QCOMPARE(unsalted.size(), 32 + 2 * (5 + 12));
        QVERIFY(!unsalted.startsWith(salted.left(32)));
        QCOMPARE(encrypt.DecryptWithKey(key, unsalted, false), QByteArray("three"));
        QCOMPARE(encrypt.DecryptWithKey(key, unsalted + "00", false), QByteArray());
        const QByteArray again = encrypt.EncryptWithPassword(password, "four");
        QCOMPARE(again.size(), 64 + 2 * (4 + 12));
        QCOMPARE(encrypt.DecryptWithPassword(password, again), QByteArray("four"));
        QCOMPARE(encrypt.DecryptWithPassword(password, salted), QByteArray("one"));
    }

    void secretsAreNeverLogged()
    {
        const QString key = QStringLiteral("SecretKeyText-31-characters-xyz");
        const QString password = QStringLiteral("HiddenPa55!");
        Zq::Encrypt encrypt;
        LogCapture log;
        encrypt.EncryptWithKey(key, "x");
        encrypt.DecryptWithKey(key, "00112233", false);
        encrypt.DecryptWithPassword(password, encrypt.EncryptWithPassword(password, "x") + "00");
        QVERIFY(!log.all().isEmpty());
        QVERIFY(!log.all().contains(QStringLiteral("SecretKeyText")));
        QVERIFY(!log.all().contains(password));
    }

    void interoperatesWithIndependentGcm_data()
    {
        QTest::addColumn<bool>("password");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<QByteArray>("data");
        const QByteArray doc = "<ZqMaterial Version=\"1\"><Description>Gr\xc3\xbcn</Description></ZqMaterial>";
        for (int length : { 32, 33, 48, 64 })
            QTest::addRow("key %d", length) << false << asciiKey(length) << doc;
        QTest::newRow("key non-ascii") << false << QString(32, QChar(0x00e4)) << doc;
        QTest::newRow("key outside BMP") << false << QString::fromUtf8("\xf0\x9f\x98\x80").repeated(16) << doc;
        QTest::newRow("key empty data") << false << asciiKey(32) << QByteArray();
        QTest::newRow("password ascii") << true << QStringLiteral("Abc123!x") << doc;
        QTest::newRow("password non-ascii") << true << QStringLiteral("Pässwörd1!") << doc;
        QTest::newRow("password outside BMP") << true << QStringLiteral("A\U0001F600b1$") << doc;
        QTest::newRow("password empty data") << true << QStringLiteral("Abc123!x") << QByteArray();
    }

    void interoperatesWithIndependentGcm()
    {
        if (m_python.isEmpty())
            QSKIP("python3 with the cryptography module is not installed");
        QFETCH(bool, password);
        QFETCH(QString, secret);
        QFETCH(QByteArray, data);
        const QString secretName = password ? QStringLiteral("password") : QStringLiteral("key");

        Zq::Encrypt encrypt;
        const QByteArray ours
            = password ? encrypt.EncryptWithPassword(secret, data) : encrypt.EncryptWithKey(secret, data);
        QVERIFY(!ours.isEmpty());
        const QJsonObject decryptOurs { { "op", password ? "decrypt_password" : "decrypt_key" },
            { secretName, secret }, { "text", QString::fromLatin1(ours) } };
        const QJsonObject encryptTheirs { { "op", password ? "encrypt_password" : "encrypt_key" },
            { secretName, secret }, { "data", QString::fromLatin1(data.toHex()) } };
        const QJsonArray results = runPeer({ decryptOurs, encryptTheirs });
        QCOMPARE(results.size(), 2);

        const QJsonObject theirPlain = results.at(0).toObject();
        QVERIFY2(!theirPlain.contains("error"), qPrintable(theirPlain.value("error").toString()));
        QCOMPARE(QByteArray::fromHex(theirPlain.value("data").toString().toLatin1()), data);

        const QJsonObject theirText = results.at(1).toObject();
        QVERIFY2(!theirText.contains("error"), qPrintable(theirText.value("error").toString()));
        const QByteArray theirs = theirText.value("text").toString().toLatin1();
        QCOMPARE(theirs.size(), ours.size());
        LogCapture log;
        const QByteArray plain = password ? encrypt.DecryptWithPassword(secret, theirs)
                                          : encrypt.DecryptWithKey(secret, theirs, false);
        QVERIFY2(log.all().isEmpty(), qPrintable(log.all()));
        QCOMPARE(plain, data);
    }
};

QTEST_GUILESS_MAIN(tst_Encrypt)
#include "tst_encrypt.moc"
