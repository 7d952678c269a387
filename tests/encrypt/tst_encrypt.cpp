#include "encrypt.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

namespace {

// Collects what the code under test logs, in place of QtTest's own handler.
class LogCapture {
public:
    struct Line {
        QtMsgType type;
        QString text;
    };
    LogCapture()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    QList<Line> lines() const { return s_lines; }
    QString all() const
    {
        QString text;
        for (const Line& line : s_lines)
            text += line.text;
        return text;
    }
    // The three critical messages of one failure: the fixed text, the cause, an empty line.
    bool hasFailure(const QString& first) const
    {
        return s_lines.size() == 3 && s_lines.at(0).type == QtCriticalMsg
            && s_lines.at(0).text == first + '\n' && s_lines.at(1).type == QtCriticalMsg
            && s_lines.at(1).text.endsWith('\n') && s_lines.at(1).text.size() > 1
            && s_lines.at(2).type == QtCriticalMsg && s_lines.at(2).text == "\n";
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        s_lines.append({ type, text });
    }
    static QList<Line> s_lines;
    QtMessageHandler m_previous;
};
QList<LogCapture::Line> LogCapture::s_lines;

const QString InvalidArgument = QStringLiteral("Caught InvalidArgument...");
const QString HashVerificationFailed = QStringLiteral("Caught HashVerificationFailed...");

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
    static const QRegularExpression upperHex(QStringLiteral("^[0-9A-F]*$"));
    return upperHex.match(QString::fromLatin1(text)).hasMatch();
}

// The key text a password and salt give, computed with Qt's own SHA-512.
QString derivedKeyText(const QString& password, const QByteArray& salt)
{
    const QByteArray prefix = password.toUtf8().left(password.size());
    return QString::fromLatin1(
        QCryptographicHash::hash(prefix + salt, QCryptographicHash::Sha512).left(32).toHex().toUpper());
}

QByteArray flipDigit(QByteArray text, int at)
{
    const char c = text.at(at);
    text[at] = c == '0' ? '1' : '0';
    return text;
}

} // namespace

class tst_Encrypt : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void validKeyLengthsRoundTrip_data();
    void validKeyLengthsRoundTrip();
    void oddLastKeyCharacterIsIgnored_data();
    void oddLastKeyCharacterIsIgnored();
    void invalidKeyLengthGivesEmptyResult_data();
    void invalidKeyLengthGivesEmptyResult();
    void nonAsciiKeyUsesUtf8Prefix();
    void passwordKeyIsSaltedSha512_data();
    void passwordKeyIsSaltedSha512();
    void passwordUsesUtf8PrefixOfUtf16Length();
    void outputLengths_data();
    void outputLengths();
    void anyChangedDigitFailsAuthentication_data();
    void anyChangedDigitFailsAuthentication();
    void truncatedTextFails();
    void saltedTextReadUnsaltedFails();
    void hexIsReadLeniently();
    void strayCharacterInPrefixShiftsSplit();
    void shortAndEmptyMessages();
    void eachEncryptionIsFresh();
    void noStateCarriesBetweenCalls();
    void secretsAreNeverLogged();
    void largeDataRoundTrips();
    void operationsAreInvokable();
    void interoperatesWithIndependentGcm_data();
    void interoperatesWithIndependentGcm();

private:
    QJsonArray runPeer(const QJsonArray& operations);
    QString m_python;
};

void tst_Encrypt::initTestCase()
{
    QProcess probe;
    probe.start(QStringLiteral("python3"), { QStringLiteral("-c"), QStringLiteral("import cryptography") });
    if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
        m_python = QStringLiteral("python3");
}

QJsonArray tst_Encrypt::runPeer(const QJsonArray& operations)
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

void tst_Encrypt::validKeyLengthsRoundTrip_data()
{
    QTest::addColumn<int>("length");
    for (int length : { 32, 33, 48, 49, 64, 65 })
        QTest::addRow("%d", length) << length;
}

void tst_Encrypt::validKeyLengthsRoundTrip()
{
    QFETCH(int, length);
    const QString key = asciiKey(length);
    const QByteArray data = randomBytes(100);
    Zq::Encrypt encrypt;
    LogCapture log;
    const QByteArray text = encrypt.EncryptWithKey(key, data);
    QCOMPARE(text.size(), 32 + 2 * (data.size() + 12));
    QCOMPARE(encrypt.DecryptWithKey(key, text, false), data);
    QCOMPARE(Zq::Encrypt().DecryptWithKey(key, text, false), data);
    QVERIFY2(log.lines().isEmpty(), qPrintable(log.all()));
}

void tst_Encrypt::oddLastKeyCharacterIsIgnored_data()
{
    QTest::addColumn<int>("length");
    for (int length : { 32, 48, 64 })
        QTest::addRow("%d", length) << length;
}

void tst_Encrypt::oddLastKeyCharacterIsIgnored()
{
    QFETCH(int, length);
    const QString key = asciiKey(length);
    Zq::Encrypt encrypt;
    const QByteArray text = encrypt.EncryptWithKey(key, "material");
    QCOMPARE(encrypt.DecryptWithKey(key + QLatin1Char('Z'), text, false), QByteArray("material"));
    QCOMPARE(encrypt.DecryptWithKey(key + QChar(0x00e9), text, false), QByteArray("material"));
}

void tst_Encrypt::invalidKeyLengthGivesEmptyResult_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("empty") << QString();
    QTest::newRow("1") << asciiKey(1);
    QTest::newRow("31") << asciiKey(31);
    QTest::newRow("34") << asciiKey(34);
    QTest::newRow("47") << asciiKey(47);
    QTest::newRow("50") << asciiKey(50);
    QTest::newRow("66") << asciiKey(66);
    QTest::newRow("128") << asciiKey(128);
    // 20 UTF-16 units, 40 UTF-8 bytes: only 10 are taken.
    QTest::newRow("non-ascii 20") << QString(20, QChar(0x00e9));
}

// Regression: a rejected key used to give the IV (and salt) hex alone,
// which callers sent to printers and wrote to files as if encrypted.
void tst_Encrypt::invalidKeyLengthGivesEmptyResult()
{
    QFETCH(QString, key);
    Zq::Encrypt encrypt;
    {
        LogCapture log;
        QCOMPARE(encrypt.EncryptWithKey(key, "some document"), QByteArray());
        QVERIFY2(log.hasFailure(InvalidArgument), qPrintable(log.all()));
    }
    {
        LogCapture log;
        const QByteArray valid = encrypt.EncryptWithKey(asciiKey(32), "some document");
        QCOMPARE(encrypt.DecryptWithKey(key, valid, false), QByteArray());
        QVERIFY2(log.hasFailure(InvalidArgument), qPrintable(log.all()));
    }
}

void tst_Encrypt::nonAsciiKeyUsesUtf8Prefix()
{
    // 32 UTF-16 units: the AES key is the first 16 UTF-8 bytes, eight times "ä".
    const QString key(32, QChar(0x00e4));
    const QString samePrefix = QString(8, QChar(0x00e4)) + asciiKey(24);
    const QString otherPrefix = QString(7, QChar(0x00e4)) + asciiKey(25);
    Zq::Encrypt encrypt;
    const QByteArray text = encrypt.EncryptWithKey(key, "Grün");
    QCOMPARE(text.size(), 32 + 2 * (5 + 12));
    QCOMPARE(encrypt.DecryptWithKey(samePrefix, text, false), QByteArray("Grün"));
    LogCapture log;
    QCOMPARE(encrypt.DecryptWithKey(otherPrefix, text, false), QByteArray());
    QVERIFY(log.hasFailure(HashVerificationFailed));
}

void tst_Encrypt::passwordKeyIsSaltedSha512_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("ascii") << QStringLiteral("Abc123!x");
    QTest::newRow("non-ascii") << QStringLiteral("Pässwörd1!");
    QTest::newRow("outside BMP") << QStringLiteral("A\U0001F600b1$");
    QTest::newRow("empty") << QString();
}

void tst_Encrypt::passwordKeyIsSaltedSha512()
{
    QFETCH(QString, password);
    const QByteArray data = "<ZqMaterial/>";
    Zq::Encrypt encrypt;
    const QByteArray text = encrypt.EncryptWithPassword(password, data);
    QCOMPARE(text.size(), 64 + 2 * (data.size() + 12));
    const QString keyText = derivedKeyText(password, QByteArray::fromHex(text.left(32)));
    QCOMPARE(keyText.size(), 64);
    QCOMPARE(encrypt.DecryptWithKey(keyText, text, true), data);
    QCOMPARE(encrypt.DecryptWithPassword(password, text), data);
}

void tst_Encrypt::passwordUsesUtf8PrefixOfUtf16Length()
{
    // Two UTF-16 units each, so only "a" and the first byte of the accent's
    // UTF-8 form count, and both give the same key. Files already written rely on it.
    const QString first = QStringLiteral("a\u00e9");
    const QString second = QStringLiteral("a\u00e8");
    Zq::Encrypt encrypt;
    const QByteArray text = encrypt.EncryptWithPassword(first, "data");
    QCOMPARE(encrypt.DecryptWithPassword(second, text), QByteArray("data"));
    LogCapture log;
    QCOMPARE(encrypt.DecryptWithPassword(QStringLiteral("b\u00e9"), text), QByteArray());
}

void tst_Encrypt::outputLengths_data()
{
    QTest::addColumn<int>("size");
    for (int size : { 0, 1, 15, 16, 17, 1000, 65536 })
        QTest::addRow("%d", size) << size;
}

void tst_Encrypt::outputLengths()
{
    QFETCH(int, size);
    const QByteArray data = randomBytes(size);
    Zq::Encrypt encrypt;
    const QByteArray keyText = encrypt.EncryptWithKey(asciiKey(64), data);
    const QByteArray passwordText = encrypt.EncryptWithPassword(QStringLiteral("Pa55word!"), data);
    QCOMPARE(keyText.size(), 32 + 2 * (size + 12));
    QCOMPARE(passwordText.size(), 64 + 2 * (size + 12));
    QVERIFY(isUpperHex(keyText));
    QVERIFY(isUpperHex(passwordText));
    QCOMPARE(encrypt.DecryptWithKey(asciiKey(64), keyText, false), data);
    QCOMPARE(encrypt.DecryptWithPassword(QStringLiteral("Pa55word!"), passwordText), data);
}

void tst_Encrypt::anyChangedDigitFailsAuthentication_data()
{
    QTest::addColumn<bool>("password");
    QTest::newRow("key") << false;
    QTest::newRow("password") << true;
}

// Regression: a tag mismatch used to return the decrypted, unauthenticated bytes.
void tst_Encrypt::anyChangedDigitFailsAuthentication()
{
    QFETCH(bool, password);
    const QString secret = asciiKey(48);
    const QByteArray data = "exposure=2.5";
    Zq::Encrypt encrypt;
    const QByteArray text
        = password ? encrypt.EncryptWithPassword(secret, data) : encrypt.EncryptWithKey(secret, data);
    for (int at = 0; at < text.size(); ++at) {
        const QByteArray changed = flipDigit(text, at);
        LogCapture log;
        const QByteArray result = password ? encrypt.DecryptWithPassword(secret, changed)
                                           : encrypt.DecryptWithKey(secret, changed, false);
        QVERIFY2(result.isEmpty(),
            qPrintable(QStringLiteral("digit %1 changed, yet %2").arg(at).arg(QString(result))));
        QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
    }
}

void tst_Encrypt::truncatedTextFails()
{
    Zq::Encrypt encrypt;
    const QString key = asciiKey(32);
    const QByteArray text = encrypt.EncryptWithKey(key, "abcdefgh");
    for (int cut : { 1, 2, 24, int(text.size()) - 32 }) {
        LogCapture log;
        QCOMPARE(encrypt.DecryptWithKey(key, text.left(text.size() - cut), false), QByteArray());
        QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
    }
    LogCapture log;
    QCOMPARE(encrypt.DecryptWithKey(key, text + "00", false), QByteArray());
    QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
}

void tst_Encrypt::saltedTextReadUnsaltedFails()
{
    Zq::Encrypt encrypt;
    const QString password = QStringLiteral("Abc123!x");
    const QByteArray text = encrypt.EncryptWithPassword(password, "plaintext");
    const QString keyText = derivedKeyText(password, QByteArray::fromHex(text.left(32)));
    LogCapture log;
    QCOMPARE(encrypt.DecryptWithKey(keyText, text, false), QByteArray());
    QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
}

void tst_Encrypt::hexIsReadLeniently()
{
    Zq::Encrypt encrypt;
    const QString key = asciiKey(64);
    const QByteArray text = encrypt.EncryptWithKey(key, "lenient");
    QCOMPARE(encrypt.DecryptWithKey(key, text.toLower(), false), QByteArray("lenient"));

    QByteArray spaced = text.left(32);
    for (int i = 32; i < text.size(); ++i)
        spaced += text.at(i) + QByteArray(i % 3 ? " " : "\r\n");
    QCOMPARE(encrypt.DecryptWithKey(key, spaced, false), QByteArray("lenient"));

    const QByteArray salted = encrypt.EncryptWithPassword(QStringLiteral("pw"), "lenient");
    QCOMPARE(encrypt.DecryptWithPassword(QStringLiteral("pw"), salted.toLower()), QByteArray("lenient"));
}

void tst_Encrypt::strayCharacterInPrefixShiftsSplit()
{
    Zq::Encrypt encrypt;
    const QString key = asciiKey(32);
    const QByteArray text = encrypt.EncryptWithKey(key, "shifted");
    QByteArray stray = text;
    stray.insert(10, ' ');
    LogCapture log;
    QCOMPARE(encrypt.DecryptWithKey(key, stray, false), QByteArray());
    QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
}

void tst_Encrypt::shortAndEmptyMessages()
{
    Zq::Encrypt encrypt;
    const QString key = asciiKey(32);
    {
        LogCapture log;
        QCOMPARE(encrypt.DecryptWithKey(key, "0123456789ABCDEF", false), QByteArray());
        QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
    }
    {
        LogCapture log;
        QCOMPARE(encrypt.DecryptWithKey(key, QByteArray(), false), QByteArray());
        QVERIFY2(log.hasFailure(InvalidArgument), qPrintable(log.all()));
    }
    {
        LogCapture log;
        QCOMPARE(encrypt.DecryptWithKey(key, QByteArray(40, 'A'), true), QByteArray());
        QVERIFY2(log.hasFailure(HashVerificationFailed), qPrintable(log.all()));
    }
    {
        // A salted text with nothing after its salt has no IV.
        LogCapture log;
        QCOMPARE(encrypt.DecryptWithKey(key, QByteArray(32, 'A'), true), QByteArray());
        QVERIFY2(log.hasFailure(InvalidArgument), qPrintable(log.all()));
    }
    {
        LogCapture log;
        QCOMPARE(encrypt.DecryptWithPassword(QStringLiteral("pw"), QByteArray()), QByteArray());
        QVERIFY2(log.hasFailure(InvalidArgument), qPrintable(log.all()));
    }
}

void tst_Encrypt::eachEncryptionIsFresh()
{
    const QString key = asciiKey(32);
    const QString password = QStringLiteral("Abc123!x");
    const QByteArray data = "same plaintext";
    Zq::Encrypt one;
    Zq::Encrypt two;
    const QByteArray texts[]
        = { one.EncryptWithKey(key, data), one.EncryptWithKey(key, data), two.EncryptWithKey(key, data) };
    QVERIFY(texts[0].left(32) != texts[1].left(32));
    QVERIFY(texts[0].left(32) != texts[2].left(32));
    for (const QByteArray& text : texts)
        QCOMPARE(one.DecryptWithKey(key, text, false), data);

    const QByteArray salted[] = { one.EncryptWithPassword(password, data),
        one.EncryptWithPassword(password, data), two.EncryptWithPassword(password, data) };
    QVERIFY(salted[0].left(32) != salted[1].left(32));
    QVERIFY(salted[0].mid(32, 32) != salted[1].mid(32, 32));
    QVERIFY(salted[0].left(32) != salted[2].left(32));
    for (const QByteArray& text : salted)
        QCOMPARE(two.DecryptWithPassword(password, text), data);
}

// Regression: the hex prefix lived in the object, so a failed call could
// leave a salt or IV in front of the next call's result.
void tst_Encrypt::noStateCarriesBetweenCalls()
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

void tst_Encrypt::secretsAreNeverLogged()
{
    const QString key = QStringLiteral("SecretKeyText-31-characters-xyz");
    const QString password = QStringLiteral("HiddenPa55!");
    Zq::Encrypt encrypt;
    LogCapture log;
    encrypt.EncryptWithKey(key, "x");
    encrypt.DecryptWithKey(key, "00112233", false);
    encrypt.DecryptWithPassword(password, encrypt.EncryptWithPassword(password, "x") + "00");
    QVERIFY(!log.lines().isEmpty());
    QVERIFY(!log.all().contains(key));
    QVERIFY(!log.all().contains(password));
    QVERIFY(!log.all().contains(QStringLiteral("SecretKeyText")));
}

void tst_Encrypt::largeDataRoundTrips()
{
    const QByteArray data = randomBytes(1024 * 1024);
    Zq::Encrypt encrypt;
    const QByteArray text = encrypt.EncryptWithKey(asciiKey(64), data);
    QCOMPARE(text.size(), 32 + 2 * (data.size() + 12));
    QVERIFY(encrypt.DecryptWithKey(asciiKey(64), text, false) == data);
}

void tst_Encrypt::operationsAreInvokable()
{
    Zq::Encrypt encrypt;
    QByteArray text;
    QVERIFY(QMetaObject::invokeMethod(&encrypt, "EncryptWithPassword", Q_RETURN_ARG(QByteArray, text),
        Q_ARG(QString, QStringLiteral("pw")), Q_ARG(QByteArray, QByteArray("qml"))));
    QByteArray plain;
    QVERIFY(QMetaObject::invokeMethod(&encrypt, "DecryptWithPassword", Q_RETURN_ARG(QByteArray, plain),
        Q_ARG(QString, QStringLiteral("pw")), Q_ARG(QByteArray, text)));
    QCOMPARE(plain, QByteArray("qml"));
    for (const char* name :
        { "EncryptWithKey(QString,QByteArray)", "DecryptWithKey(QString,QByteArray,bool)" })
        QVERIFY2(encrypt.metaObject()->indexOfMethod(name) >= 0, name);
}

void tst_Encrypt::interoperatesWithIndependentGcm_data()
{
    QTest::addColumn<bool>("password");
    QTest::addColumn<QString>("secret");
    QTest::addColumn<QByteArray>("data");
    const QByteArray doc = "<ZqMaterial Version=\"1\"><Description>Gr\xc3\xbcn</Description></ZqMaterial>";
    for (int length : { 32, 33, 48, 49, 64, 65 })
        QTest::addRow("key %d", length) << false << asciiKey(length) << doc;
    QTest::newRow("key non-ascii") << false << QString(32, QChar(0x00e4)) << doc;
    QTest::newRow("key outside BMP") << false << QString::fromUtf8("\xf0\x9f\x98\x80").repeated(16) << doc;
    QTest::newRow("key empty data") << false << asciiKey(32) << QByteArray();
    QTest::newRow("key binary data") << false << asciiKey(64) << QByteArray("\0\1\2\377\0", 5).repeated(300);
    QTest::newRow("password ascii") << true << QStringLiteral("Abc123!x") << doc;
    QTest::newRow("password non-ascii") << true << QStringLiteral("Pässwörd1!") << doc;
    QTest::newRow("password outside BMP") << true << QStringLiteral("A\U0001F600b1$") << doc;
    QTest::newRow("password empty data") << true << QStringLiteral("Abc123!x") << QByteArray();
}

void tst_Encrypt::interoperatesWithIndependentGcm()
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
    QJsonObject decryptOurs { { "op", password ? "decrypt_password" : "decrypt_key" }, { secretName, secret },
        { "text", QString::fromLatin1(ours) } };
    QJsonObject encryptTheirs { { "op", password ? "encrypt_password" : "encrypt_key" },
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
    QVERIFY2(log.lines().isEmpty(), qPrintable(log.all()));
    QCOMPARE(plain, data);
}

QTEST_GUILESS_MAIN(tst_Encrypt)
#include "tst_encrypt.moc"
