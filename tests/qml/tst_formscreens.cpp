// Drives the real form screen in a window under Xvfb: screenshots of a filled
// form with its help drawer and of the validation dialog (kept as artifacts),
// and a distributed file decrypted through both layers.
#include "encrypt.h"
#include "registertypes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtTest>
#include <QtWebEngine>

namespace {

QStringList capturedMessages;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    capturedMessages << message;
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

class TestFormScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void filledFormWithHelpDrawer();
    void validationDialog();
    void distributedFileDecryptsThroughBothLayers();
    void cleanupTestCase();

private:
    QVariant call(const char *function, const QVariant &a = {}, const QVariant &b = {}, const QVariant &c = {});
    void saveScreenshot(const QString &name);

    QQmlApplicationEngine *m_engine = nullptr;
    QQuickWindow *m_window = nullptr;
};

QVariant TestFormScreens::call(const char *function, const QVariant &a, const QVariant &b, const QVariant &c)
{
    QVariant result;
    bool ok = false;
    if (!c.isNull())
        ok = QMetaObject::invokeMethod(m_window, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, a),
                                       Q_ARG(QVariant, b), Q_ARG(QVariant, c));
    else if (!a.isNull())
        ok = QMetaObject::invokeMethod(m_window, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, a));
    else
        ok = QMetaObject::invokeMethod(m_window, function, Q_RETURN_ARG(QVariant, result));
    if (!ok)
        qWarning("cannot call %s", function);
    return result;
}

void TestFormScreens::saveScreenshot(const QString &name)
{
    // Let the scene settle (web content composites asynchronously).
    QTest::qWait(800);
    const QImage image = m_window->grabWindow();
    QVERIFY(!image.isNull());
    QCOMPARE(image.width(), m_window->width() * int(m_window->devicePixelRatio()));
    QDir().mkpath(QStringLiteral(GELV_TEST_OUTPUT_DIR));
    const QString path = QStringLiteral(GELV_TEST_OUTPUT_DIR "/") + name;
    QVERIFY2(image.save(path), qPrintable(path));
}

void TestFormScreens::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setApplicationName(QStringLiteral("Gelvantrium"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    registerQmlTypes();
    previousHandler = qInstallMessageHandler(captureMessage);

    m_engine = new QQmlApplicationEngine(this);
    m_engine->load(QUrl::fromLocalFile(QStringLiteral(GELV_TEST_DATA_DIR "/../FormScreensDriver.qml")));
    QVERIFY(!m_engine->rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestFormScreens::filledFormWithHelpDrawer()
{
    QVERIFY(call("load", QStringLiteral(GELV_TEST_DATA_DIR "/workspace/full.zqmat")).toBool());
    call("toggleHelp");
    QTRY_COMPARE_WITH_TIMEOUT(call("helpProgress").toInt(), 100, 30000);
    saveScreenshot(QStringLiteral("form_with_help_drawer.png"));
    call("toggleHelp");
}

void TestFormScreens::validationDialog()
{
    QVERIFY(call("createNew").toBool());
    QVERIFY(call("pressSave").toBool());
    saveScreenshot(QStringLiteral("validation_dialog.png"));
}

void TestFormScreens::distributedFileDecryptsThroughBothLayers()
{
    QVERIFY(call("load", QStringLiteral(GELV_TEST_DATA_DIR "/workspace/full.zqmat")).toBool());
    QVERIFY(!call("unsaved").toBool());
    const QString xml = call("currentXml").toString();

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("out #1.zqmatd"));
    const QString password = QStringLiteral("Secr3t!pw");
    const QString groupKey = QStringLiteral("0123456789abcdef0123456789abcdef0123456789ABCDEF");
    capturedMessages.clear();
    QVERIFY(call("distribute", path, password, groupKey).toBool());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    Zq::Encrypt encrypt;
    const QByteArray inner = encrypt.DecryptWithKey(groupKey, written, false);
    const QString plain = QString::fromUtf8(encrypt.DecryptWithPassword(password, inner));
    const QString flag = QStringLiteral("\n    <DistributedFlag>true</DistributedFlag>");
    QVERIFY(plain.contains(flag));
    QString withoutFlag = plain;
    withoutFlag.remove(flag);
    QCOMPARE(withoutFlag, xml);
    QCOMPARE(written.size(), 32 + 2 * (64 + 2 * (plain.toUtf8().size() + 12) + 12));

    // The open document is unchanged, and the plaintext never reached the log.
    QCOMPARE(call("currentXml").toString(), xml);
    QVERIFY(!call("unsaved").toBool());
    bool lengthLogged = false;
    for (const QString &message : qAsConst(capturedMessages)) {
        QVERIFY2(!message.contains(QLatin1String("<ZqMaterial")), qPrintable(message));
        QVERIFY2(!message.startsWith(QLatin1String("Caught")), qPrintable(message));
        lengthLogged = lengthLogged
                       || message == QStringLiteral("encrypting xml value of length = %1").arg(xml.size() + flag.size());
    }
    QVERIFY(lengthLogged);
}

void TestFormScreens::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
    delete m_engine;
    m_engine = nullptr;
}

int main(int argc, char **argv)
{
    QtWebEngine::initialize();
    QApplication app(argc, argv);
    TestFormScreens test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_formscreens.moc"
