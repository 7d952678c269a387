// The Home screen in a real window under Xvfb: one screenshot of each section and of
// an offered update (kept in the build's test-output folder as artifacts). Links are
// clicked as a user would; nothing here reaches the network.
#include "buildconfig.h"
#include "interfacefont.h"
#include "registertypes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <QtWebEngine>

#include <memory>

#if __has_include("updatehelper.h")
#include "updatehelper.h"
#define GELV_TEST_HAVE_UPDATER
#endif

class TestHomeScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void section_data();
    void section();
    void offeredUpdate();
    void cleanupTestCase();

private:
    QQuickItem *findItem(const char *property, const QVariant &value = QVariant()) const;
    void clickLink(const QString &text);
    void saveScreenshot(const QString &name, bool dialogOpen = false);

    QTemporaryDir m_files;
    QQmlEngine *m_engine = nullptr;
    std::unique_ptr<QObject> m_root;
    QQuickWindow *m_window = nullptr;
};

// The first item of the window with the property (and, when given, that value).
QQuickItem *TestHomeScreens::findItem(const char *property, const QVariant &value) const
{
    const QList<QQuickItem *> items = m_window->findChildren<QQuickItem *>();
    for (QQuickItem *item : items) {
        const QVariant found = item->property(property);
        if (found.isValid() && (value.isNull() || found == value))
            return item;
    }
    return nullptr;
}

void TestHomeScreens::clickLink(const QString &text)
{
    QQuickItem *link = nullptr;
    const QList<QQuickItem *> items = m_window->findChildren<QQuickItem *>();
    for (QQuickItem *item : items) {
        if (item->property("backgroundColorSelected").isValid() && item->property("text").toString() == text)
            link = item;
    }
    QVERIFY2(link, qPrintable(text));
    const QPointF centre = link->mapToScene(QPointF(link->width() / 2, link->height() / 2));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    QTRY_VERIFY(link->property("selected").toBool());
}

void TestHomeScreens::saveScreenshot(const QString &name, bool dialogOpen)
{
    QSignalSpy frames(m_window, &QQuickWindow::frameSwapped);
    m_window->update();
    QVERIFY(frames.wait(5000));
    // Web content composites asynchronously.
    QTest::qWait(500);
    const QImage image = m_window->grabWindow();
    QVERIFY(!image.isNull());
    QVERIFY(QDir().mkpath(QStringLiteral(GELV_TEST_OUTPUT_DIR)));
    const QString path = QStringLiteral(GELV_TEST_OUTPUT_DIR "/") + name;
    QVERIFY2(image.save(path), qPrintable(path));
    // The sidebar is drawn at the left whatever section shows; a modal dialog dims it.
    if (!dialogOpen)
        QCOMPARE(image.pixelColor(5, image.height() / 2), QColor(QStringLiteral("#424241")));
}

void TestHomeScreens::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(GELV_ORGANISATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Gelvantrium"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QVERIFY2(qEnvironmentVariableIsSet("XDG_CONFIG_HOME"), "run through tests/isolated.sh");
    registerQmlTypes();
    QVERIFY(installInterfaceFont());
#ifdef GELV_TEST_HAVE_UPDATER
    // The splash never hides here, so no check starts; should one start, it stays on loopback.
    UpdateHelper::definitionsURL = QStringLiteral("https://127.0.0.1:9/updates.json");
#endif

    // Two recent materials, a profile and a valid distribution password, so that
    // every section shows content.
    QVERIFY(m_files.isValid());
    QJsonArray recent;
    const QStringList names = {QStringLiteral("Clear Resin.zqmat"), QStringLiteral("Tough Grey.zqmat")};
    const QStringList colors = {QStringLiteral("#e6f2ff"), QStringLiteral("#6c6767")};
    for (int i = 0; i < names.size(); ++i) {
        const QString path = m_files.filePath(names.at(i));
        QVERIFY(QFile::copy(QStringLiteral(GELV_TEST_DATA_DIR "/workspace/full.zqmat"), path));
        recent.append(QJsonObject{{QStringLiteral("fileName"), names.at(i)},
                                  {QStringLiteral("path"), QStringLiteral("file:///") + path},
                                  {QStringLiteral("printerModel"), QStringLiteral("Orvo A")},
                                  {QStringLiteral("lastUpdatedDate"), QStringLiteral("Monday, March 2, 2026 10:1%1:00 AM").arg(i)},
                                  {QStringLiteral("friendlyColor"), colors.at(i)}});
    }
    QSettings settings;
    settings.setValue(QStringLiteral("Document/datastore"),
                      QString::fromUtf8(QJsonDocument(recent).toJson(QJsonDocument::Compact)));
    settings.setValue(QStringLiteral("User/nameFirst"), QStringLiteral("Ada"));
    settings.setValue(QStringLiteral("User/nameLast"), QStringLiteral("Lovelace"));
    settings.setValue(QStringLiteral("User/email"), QStringLiteral("ada@example.invalid"));
    settings.setValue(QStringLiteral("User/company"), QStringLiteral("Veltrisan Labs"));
    settings.setValue(QStringLiteral("distributionPassword/password"), QStringLiteral("Abcdef1!"));
    settings.sync();

    m_engine = new QQmlEngine(this);
    QQmlComponent component(m_engine);
    component.setData("import QtQuick 2.15\n"
                      "import QtQuick.Controls 2.15\n"
                      "import \"components/screen\"\n"
                      "ApplicationWindow {\n"
                      "    width: 1280; height: 720; visible: true; title: \"Home sections\"\n"
                      "    ScreenHome { anchors.fill: parent }\n"
                      "}\n",
                      QUrl(QStringLiteral("qrc:/homescreens.qml")));
    m_root.reset(component.create());
    QVERIFY2(m_root, qPrintable(component.errorString()));
    m_window = qobject_cast<QQuickWindow *>(m_root.get());
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestHomeScreens::section_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("file");
    QTest::newRow("getting started") << QStringLiteral("Getting Started") << QStringLiteral("home_getting_started.png");
    QTest::newRow("settings") << QStringLiteral("Settings") << QStringLiteral("home_settings.png");
    QTest::newRow("support") << QStringLiteral("Support") << QStringLiteral("home_support.png");
    QTest::newRow("materials") << QStringLiteral("Materials") << QStringLiteral("home_materials.png");
}

void TestHomeScreens::section()
{
    QFETCH(QString, link);
    QFETCH(QString, file);
    clickLink(link);
    if (link == QLatin1String("Getting Started")) {
        QQuickItem *view = findItem("loadProgress");
        QVERIFY(view);
        QTRY_COMPARE_WITH_TIMEOUT(view->property("loadProgress").toInt(), 100, 30000);
        QTRY_VERIFY(!view->property("loading").toBool());
    }
    if (link == QLatin1String("Materials")) {
        QQuickItem *list = findItem("recentList");
        QVERIFY(list);
        auto *recentList = list->property("recentList").value<QObject *>();
        QVERIFY(recentList);
        QTRY_COMPARE(recentList->property("count").toInt(), 2);
    }
    saveScreenshot(file);
}

void TestHomeScreens::offeredUpdate()
{
    QQuickItem *sidebar = findItem("updateHelper");
    QVERIFY(sidebar);
    QQmlComponent standIn(m_engine);
    standIn.setData("import QtQuick 2.15\n"
                    "QtObject {\n"
                    "    signal returnCheckForUpdateResponse(var updateExists)\n"
                    "    signal returnDownloadProgressUpdate(var received, var total, var sizeReceived,"
                    " var sizeTotal, var timeRemaining)\n"
                    "    signal returnDownloadUpdateResponse(var downloadWasSuccessful)\n"
                    "    signal returnDownloadFileNotFound(string url)\n"
                    "    function checkForUpdate() {}\n"
                    "    function getUpdateVersionNumber() { return \"1.2.0\" }\n"
                    "    function getUpdateReleaseNotes() { return \"Faster material loading.\\n"
                    "Clearer messages when a printer cannot be reached.\" }\n"
                    "    function startDownload() {}\n"
                    "    function isInstallerReady() { return false }\n"
                    "    function launchInstaller() { return false }\n"
                    "}\n",
                    QUrl(QStringLiteral("qrc:/updatehelperstandin.qml")));
    std::unique_ptr<QObject> helper(standIn.create());
    QVERIFY2(helper, qPrintable(standIn.errorString()));
    QVERIFY(sidebar->setProperty("updateHelper", QVariant::fromValue(helper.get())));

    QVERIFY(QMetaObject::invokeMethod(sidebar, "returnCheckForUpdateResponse", Q_ARG(QVariant, true)));
    auto *dialog = sidebar->property("applicationUpdateNotificationDialog").value<QObject *>();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("visible").toBool());
    saveScreenshot(QStringLiteral("home_update_dialog.png"), true);

    QVERIFY(QMetaObject::invokeMethod(dialog, "close"));
    QTRY_VERIFY(!dialog->property("visible").toBool());
    QVERIFY(QMetaObject::invokeMethod(sidebar, "returnDownloadProgressUpdate", Q_ARG(QVariant, 40000000),
                                      Q_ARG(QVariant, 100000000), Q_ARG(QVariant, QStringLiteral("38 MB")),
                                      Q_ARG(QVariant, QStringLiteral("95 MB")),
                                      Q_ARG(QVariant, QStringLiteral("About 1 minutes"))));
    saveScreenshot(QStringLiteral("home_update_downloading.png"));
    sidebar->setProperty("updateHelper", QVariant::fromValue<QObject *>(nullptr));
}

void TestHomeScreens::cleanupTestCase()
{
    m_root.reset();
    delete m_engine;
    m_engine = nullptr;
}

int main(int argc, char **argv)
{
    QtWebEngine::initialize();
    QApplication app(argc, argv);
    TestHomeScreens test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_homescreens.moc"
