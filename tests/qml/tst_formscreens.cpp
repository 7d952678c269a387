// Drives the real form screen in a window under Xvfb: screenshots of a filled
// form with its help drawer and of the validation dialog (kept as artifacts),
// and a distributed file decrypted through both layers.
#include "encrypt.h"
#include "guitest.h"

#include <QFile>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>

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
    // Calls a function of FormScreensDriver.qml.
    template <typename... Args>
    QVariant call(const char *function, const Args &...args)
    {
        QVariant result;
        if (!QMetaObject::invokeMethod(m_window, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, QVariant(args))...))
            qWarning("cannot call %s", function);
        return result;
    }
    void saveScreenshot(const QString &name)
    {
        QVERIFY2(!GuiTest::saveScreenshot(m_window, name).isNull(), qPrintable(name));
    }

    QQmlApplicationEngine *m_engine = nullptr;
    QQuickWindow *m_window = nullptr;
};

void TestFormScreens::initTestCase()
{
    QVERIFY(GuiTest::setUpApplication());
    previousHandler = qInstallMessageHandler(captureMessage);
    m_engine = new QQmlApplicationEngine(this);
    m_engine->load(QUrl::fromLocalFile(QStringLiteral(GELV_TEST_DATA_DIR "/../FormScreensDriver.qml")));
    QVERIFY(!m_engine->rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    QVERIFY(m_window && QTest::qWaitForWindowExposed(m_window));
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
    Zq::Encrypt encrypt;
    const QByteArray inner = encrypt.DecryptWithKey(groupKey, file.readAll(), false);
    const QString plain = QString::fromUtf8(encrypt.DecryptWithPassword(password, inner));
    const QString flag = QStringLiteral("\n    <DistributedFlag>true</DistributedFlag>");
    QVERIFY(plain.contains(flag));
    QCOMPARE(QString(plain).remove(flag), xml);

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

GELV_GUI_TEST_MAIN(TestFormScreens)

#include "tst_formscreens.moc"
