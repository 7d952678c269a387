#include "../testsupport.h"
#include "encrypt.h"

#include <QtTest>

namespace {

// Collects what the code under test logs, each line after "C" when critical.
QStringList s_lines;
void capture(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    s_lines << (type == QtCriticalMsg ? "C" : "-") + text;
}
struct LogCapture {
    LogCapture()
    {
        s_lines.clear();
        previous = qInstallMessageHandler(capture);
    }
    ~LogCapture() { qInstallMessageHandler(previous); }
    QtMessageHandler previous;
    QString all() const { return s_lines.join(QString()); }
    // The three critical messages of one failure: the fixed text, the cause, an empty line.
    bool hasFailure(const QString& first) const
    {
        return s_lines.size() == 3 && s_lines[0] == "C" + first + '\n' && s_lines[1].startsWith('C')
            && s_lines[1].size() > 2 && s_lines[1].endsWith('\n') && s_lines[2] == "C\n";
    }
};

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

} // namespace

class tst_Encrypt : public QObject {
    Q_OBJECT

private:
    QJsonArray runPeer(const QJsonArray& operations)
    {
        QProcess peer;
        peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer.start(m_python, { QStringLiteral(GELV_TEST_DATA_DIR "/gcm_peer.py") });
        peer.write(QJsonDocument(operations).toJson(QJsonDocument::Compact));
        peer.closeWriteChannel();
        peer.waitForFinished(30000);
        return QJsonDocument::fromJson(peer.readAllStandardOutput()).array();
    }

    QString m_python;

private slots:
    void initTestCase()
    {
        if (QProcess::execute(QStringLiteral("python3"), { "-c", "import cryptography" }) == 0)
            m_python = QStringLiteral("python3");
    }

    // Hex of [salt 16] IV 16, ciphertext, tag 12; a fresh IV and salt for each call.
    void lengthsAndFreshness()
    {
        const int size = 1024 * 1024;
        QByteArray data(size, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
        const QString key = asciiKey(64), password = QStringLiteral("Pa55word!");
        Zq::Encrypt encrypt;
        const QByteArray a = encrypt.EncryptWithKey(key, data), b = encrypt.EncryptWithKey(key, data);
        const QByteArray c = encrypt.EncryptWithPassword(password, data);
        const QByteArray d = encrypt.EncryptWithPassword(password, data);
        QCOMPARE(a.size(), 32 + 2 * (size + 12));
        QCOMPARE(c.size(), 64 + 2 * (size + 12));
        const QRegularExpression upperHex(QStringLiteral("^[0-9A-F]*$"));
        QVERIFY(upperHex.match(QString::fromLatin1(a + c)).hasMatch());
        QVERIFY(a.left(32) != b.left(32) && c.left(32) != d.left(32) && c.mid(32, 32) != d.mid(32, 32));
        QVERIFY(
            encrypt.DecryptWithKey(key, a, false) == data && encrypt.DecryptWithKey(key, b, false) == data);
        QVERIFY(encrypt.DecryptWithPassword(password, c) == data
            && encrypt.DecryptWithPassword(password, d) == data);
    }

    // Regression: a tag mismatch used to return the decrypted, unauthenticated bytes.
    void anyChangedDigitFailsAuthentication()
    {
        const QString secret = asciiKey(48);
        Zq::Encrypt encrypt;
        for (bool password : { false, true }) {
            const QByteArray text = password ? encrypt.EncryptWithPassword(secret, "exposure=2.5")
                                             : encrypt.EncryptWithKey(secret, "exposure=2.5");
            for (int at = 0; at < text.size(); ++at) {
                QByteArray changed = text;
                changed[at] = text.at(at) == '0' ? '1' : '0';
                LogCapture log;
                const QByteArray result = password ? encrypt.DecryptWithPassword(secret, changed)
                                                   : encrypt.DecryptWithKey(secret, changed, false);
                QVERIFY2(result.isEmpty(),
                    qPrintable(QStringLiteral("digit %1 changed, yet %2").arg(at).arg(QString(result))));
                QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
            }
        }
    }

    void failureGivesEmptyResult_data()
    {
        columns<QString, QByteArray, bool, QString>("key", "text", "salted", "failure");
        const QString key = asciiKey(32);
        const QByteArray valid = Zq::Encrypt().EncryptWithKey(key, "abcdefgh");
        QTest::newRow("key 31") << asciiKey(31) << valid << false << InvalidArgument;
        QTest::newRow("key 34") << asciiKey(34) << valid << false << InvalidArgument;
        // 20 UTF-16 units, 40 UTF-8 bytes: only 10 are taken.
        QTest::newRow("key non-ascii 20") << QString(20, QChar(0x00e9)) << valid << false << InvalidArgument;
        QTest::newRow("one digit cut") << key << valid.chopped(1) << false << HashVerificationFailed;
        QTest::newRow("only the IV") << key << valid.left(32) << false << HashVerificationFailed;
        QTest::newRow("shorter than an IV")
            << key << QByteArray("0123456789ABCDEF") << false << HashVerificationFailed;
        QTest::newRow("empty") << key << QByteArray() << false << InvalidArgument;
        QTest::newRow("salted, nothing after the salt")
            << key << QByteArray(32, 'A') << true << InvalidArgument;
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

    // Lower case and blanks are read in the cipher part. Salt, IV and cipher part are
    // split by character position, so a blank within the first 32 (or 64) shifts the
    // split and authentication fails.
    void hexIsReadLeniently_data()
    {
        columns<bool, int, bool>("salted", "blankAt", "decrypts");
        QTest::newRow("key, blanks in the cipher part") << false << 32 << true;
        QTest::newRow("password, blanks in the cipher part") << true << 64 << true;
        QTest::newRow("key, blank in the IV") << false << 30 << false;
        QTest::newRow("password, blank in the salt") << true << 30 << false;
        QTest::newRow("password, blank in the IV") << true << 62 << false;
    }
    void hexIsReadLeniently()
    {
        QFETCH(bool, salted);
        QFETCH(int, blankAt);
        QFETCH(bool, decrypts);
        Zq::Encrypt encrypt;
        const QString secret = asciiKey(64);
        const QByteArray text = salted ? encrypt.EncryptWithPassword(secret, "lenient")
                                       : encrypt.EncryptWithKey(secret, "lenient");
        // Blanks or line breaks after every digit from index blankAt on, all in lower case.
        QByteArray spaced = text.left(blankAt);
        for (int i = blankAt; i < text.size(); ++i)
            spaced += text.at(i) + QByteArray(i % 3 ? " " : "\r\n");
        spaced = spaced.toLower();
        LogCapture log;
        const QByteArray result = salted ? encrypt.DecryptWithPassword(secret, spaced)
                                         : encrypt.DecryptWithKey(secret, spaced, false);
        QCOMPARE(result, decrypts ? QByteArray("lenient") : QByteArray());
        QCOMPARE(log.hasFailure(HashVerificationFailed), !decrypts);
    }

    // Regression: the hex prefix lived in the object, so a failed call could leave a salt
    // or IV in front of the next call's result. Failures are logged, the secrets never.
    void failedCallsLeaveNoStateAndLogNoSecret()
    {
        Zq::Encrypt encrypt;
        const QString key = asciiKey(32), badKey = QStringLiteral("SecretKeyText-31-characters-xyz");
        const QString password = QStringLiteral("HiddenPa55!");
        LogCapture log;
        const QByteArray salted = encrypt.EncryptWithPassword(password, "one");
        QCOMPARE(encrypt.EncryptWithKey(badKey, "two"), QByteArray());
        const QByteArray unsalted = encrypt.EncryptWithKey(key, "three");
        QCOMPARE(unsalted.size(), 32 + 2 * (5 + 12));
        QCOMPARE(encrypt.DecryptWithKey(key, unsalted, false), QByteArray("three"));
        QCOMPARE(encrypt.DecryptWithKey(badKey, unsalted, false), QByteArray());
        QCOMPARE(encrypt.DecryptWithPassword(password, salted + "00"), QByteArray());
        const QByteArray again = encrypt.EncryptWithPassword(password, "four");
        QCOMPARE(again.size(), 64 + 2 * (4 + 12));
        QCOMPARE(encrypt.DecryptWithPassword(password, again) + encrypt.DecryptWithPassword(password, salted),
            QByteArray("fourone"));
        QVERIFY(
            !log.all().isEmpty() && !log.all().contains("SecretKeyText") && !log.all().contains(password));
    }

    void interoperatesWithIndependentGcm_data()
    {
        columns<bool, QString, QByteArray>("password", "secret", "data");
        const auto row
            = [](const char* name, bool password, const QString& secret,
                  const QByteArray& data
                  = "<ZqMaterial Version=\"1\"><Description>Gr\xc3\xbcn</Description></ZqMaterial>") {
                  QTest::newRow(name) << password << secret << data;
              };
        for (int length : { 32, 33, 48, 64 })
            row(qPrintable(QStringLiteral("key %1").arg(length)), false, asciiKey(length));
        row("key non-ascii", false, QString(32, QChar(0x00e4)));
        row("key outside BMP", false, QString::fromUtf8("\xf0\x9f\x98\x80").repeated(16));
        row("key empty data", false, asciiKey(32), QByteArray());
        row("password ascii", true, QStringLiteral("Abc123!x"));
        row("password non-ascii", true, QStringLiteral("Pässwörd1!"));
        row("password outside BMP", true, QStringLiteral("A\U0001F600b1$"));
        row("password empty data", true, QStringLiteral("Abc123!x"), QByteArray());
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
        const QJsonArray results = runPeer({
            QJsonObject {
                { "op", "decrypt_" + secretName }, { secretName, secret }, { "text", QString(ours) } },
            QJsonObject { { "op", "encrypt_" + secretName }, { secretName, secret },
                { "data", QString(data.toHex()) } },
        });
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[0].toObject().value("error").toString(), QString());
        QCOMPARE(QByteArray::fromHex(results[0].toObject().value("data").toString().toLatin1()), data);
        QCOMPARE(results[1].toObject().value("error").toString(), QString());
        const QByteArray theirs = results[1].toObject().value("text").toString().toLatin1();
        QCOMPARE(theirs.size(), ours.size());
        LogCapture log;
        QCOMPARE(password ? encrypt.DecryptWithPassword(secret, theirs)
                          : encrypt.DecryptWithKey(secret, theirs, false),
            data);
        QCOMPARE(log.all(), QString());
    }
};

QTEST_GUILESS_MAIN(tst_Encrypt)
#include "tst_encrypt.moc"
