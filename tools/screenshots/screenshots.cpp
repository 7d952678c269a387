// Renders the splash, Home (each section and an offered update) and the form screen
// into PNG files for review:  screenshots <output folder>  (run under Xvfb through
// tests/isolated.sh, which keeps its settings away from the user's own).
#include "buildconfig.h"
#include "interfacefont.h"
#include "registertypes.h"
#include "updatehelper.h"
#include "windowimage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <QtWebEngine>

#include <functional>
#include <memory>

namespace {

QString outputDir;
int failures = 0;

bool waitFor(const std::function<bool()>& done, int ms = 20000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(50);
    return done();
}

void shoot(QQuickWindow* window, const QString& name)
{
    const bool saved = saveWindowImage(window, outputDir + QLatin1Char('/') + name);
    qInfo("%s %s", saved ? "wrote" : "FAILED", qPrintable(name));
    failures += saved ? 0 : 1;
}

std::unique_ptr<QObject> create(QQmlEngine& engine, const QByteArray& qml, const char* url)
{
    QQmlComponent component(&engine);
    component.setData(qml, QUrl(QString::fromLatin1(url)));
    std::unique_ptr<QObject> object(component.create());
    if (!object)
        qFatal("%s", qPrintable(component.errorString()));
    if (auto* window = qobject_cast<QQuickWindow*>(object.get()))
        (void)QTest::qWaitForWindowExposed(window);
    return object;
}

QQuickItem* findItem(QObject* root, const char* property, const QVariant& text = QVariant())
{
    for (QQuickItem* item : root->findChildren<QQuickItem*>()) {
        if (item->property(property).isValid() && (text.isNull() || item->property("text") == text))
            return item;
    }
    return nullptr;
}

QVariant call(QObject* object, const char* function, const QVariant& argument = QVariant())
{
    QVariant result;
    if (argument.isValid())
        QMetaObject::invokeMethod(
            object, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, argument));
    else
        QMetaObject::invokeMethod(object, function, Q_RETURN_ARG(QVariant, result));
    return result;
}

// Two recent materials, a profile and a valid distribution password, so that every section shows content.
void seedSettings(const QTemporaryDir& files)
{
    QStringList entries;
    const QStringList names = { QStringLiteral("Clear Resin.zqmat"), QStringLiteral("Tough Grey.zqmat") };
    for (int i = 0; i < names.size(); ++i) {
        const QString path = files.filePath(names.at(i));
        QFile::copy(QStringLiteral(SAMPLE_DOCUMENT), path);
        entries << QStringLiteral(
            R"({"fileName":"%1","path":"file:///%2","printerModel":"Orvo A",)"
            R"("lastUpdatedDate":"Monday, March 2, 2026 10:1%3:00 AM","friendlyColor":"%4"})")
                       .arg(names.at(i), path)
                       .arg(i)
                       .arg(i ? QStringLiteral("#6c6767") : QStringLiteral("#e6f2ff"));
    }
    QSettings settings;
    settings.setValue(QStringLiteral("Document/datastore"),
        QLatin1Char('[') + entries.join(QLatin1Char(',')) + QLatin1Char(']'));
    settings.setValue(QStringLiteral("User/nameFirst"), QStringLiteral("Ada"));
    settings.setValue(QStringLiteral("User/nameLast"), QStringLiteral("Lovelace"));
    settings.setValue(QStringLiteral("User/email"), QStringLiteral("ada@example.invalid"));
    settings.setValue(QStringLiteral("User/company"), QStringLiteral("Veltrisan Labs"));
    settings.setValue(QStringLiteral("distributionPassword/password"), QStringLiteral("Abcdef1!"));
}

void splashAndMain(QQmlApplicationEngine& engine)
{
    engine.rootContext()->setContextProperty(QStringLiteral("openFilePath"), QString());
    QQmlComponent splash(&engine, QUrl(QStringLiteral("qrc:/components/screen/ScreenSplash.qml")));
    std::unique_ptr<QObject> splashWindow(splash.create());
    if (auto* window = qobject_cast<QQuickWindow*>(splashWindow.get())) {
        (void)QTest::qWaitForWindowExposed(window);
        shoot(window, QStringLiteral("splash.png"));
    }
    splashWindow.reset();
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    if (window && waitFor([window] { return window->property("initialLoadDone").toBool(); })) {
        (void)QTest::qWaitForWindowExposed(window);
        shoot(window, QStringLiteral("home.png"));
    }
}

void homeSections(QQmlEngine& engine)
{
    std::unique_ptr<QObject> root = create(engine,
        "import QtQuick 2.15\nimport QtQuick.Controls 2.15\n"
        "import \"components/screen\"\nApplicationWindow {\n"
        "    width: 1280; height: 720; visible: true\n"
        "    ScreenHome { anchors.fill: parent }\n}\n",
        "qrc:/homescreens.qml");
    auto* window = qobject_cast<QQuickWindow*>(root.get());
    const QStringList sections = { QStringLiteral("Getting Started"), QStringLiteral("Settings"),
        QStringLiteral("Support"), QStringLiteral("Materials") };
    for (const QString& link : sections) {
        QQuickItem* option = findItem(window, "backgroundColorSelected", link);
        if (!option)
            continue;
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
            option->mapToScene(QPointF(option->width() / 2, option->height() / 2)).toPoint());
        if (QQuickItem* view = link == sections.first() ? findItem(window, "loadProgress") : nullptr)
            waitFor([view] { return view->property("loadProgress").toInt() == 100; }, 30000);
        shoot(window,
            QStringLiteral("home_%1.png").arg(link.toLower().replace(QLatin1Char(' '), QLatin1Char('_'))));
    }

    // An offered update, from a helper that answers as told.
    QQuickItem* sidebar = findItem(window, "updateHelper");
    std::unique_ptr<QObject> helper = create(engine,
        "import QtQuick 2.15\nQtObject {\n"
        "    signal returnCheckForUpdateResponse(var updateExists)\n"
        "    signal returnDownloadProgressUpdate(var received, var total, var sizeReceived, var sizeTotal, "
        "var left)\n"
        "    signal returnDownloadUpdateResponse(var downloadWasSuccessful)\n"
        "    signal returnDownloadFileNotFound(string url)\n"
        "    function checkForUpdate() {}\n    function startDownload() {}\n"
        "    function getUpdateVersionNumber() { return \"1.2.0\" }\n"
        "    function getUpdateReleaseNotes() { return \"Faster material loading.\\n"
        "Clearer messages when a printer cannot be reached.\" }\n"
        "    function isInstallerReady() { return false }\n    function launchInstaller() { return true "
        "}\n}\n",
        "qrc:/updatehelper.qml");
    if (!sidebar)
        return;
    sidebar->setProperty("updateHelper", QVariant::fromValue(helper.get()));
    QMetaObject::invokeMethod(sidebar, "returnCheckForUpdateResponse", Q_ARG(QVariant, true));
    auto* dialog = sidebar->property("applicationUpdateNotificationDialog").value<QObject*>();
    if (dialog && waitFor([dialog] { return dialog->property("visible").toBool(); })) {
        shoot(window, QStringLiteral("home_update_dialog.png"));
        QMetaObject::invokeMethod(dialog, "close");
        waitFor([dialog] { return !dialog->property("visible").toBool(); });
    }
    QMetaObject::invokeMethod(sidebar, "returnDownloadProgressUpdate", Q_ARG(QVariant, 40000000),
        Q_ARG(QVariant, 100000000), Q_ARG(QVariant, QStringLiteral("38 MB")),
        Q_ARG(QVariant, QStringLiteral("95 MB")), Q_ARG(QVariant, QStringLiteral("About 1 minutes")));
    shoot(window, QStringLiteral("home_update_downloading.png"));
    sidebar->setProperty("updateHelper", QVariant::fromValue<QObject*>(nullptr));
}

// Home at the smallest size the window allows: every control must still be reachable.
void homeAtMinimumSize(QQmlEngine& engine)
{
    std::unique_ptr<QObject> root = create(engine,
        "import QtQuick 2.15\nimport QtQuick.Controls 2.15\n"
        "import \"qrc:/\"\nimport \"components/screen\"\n"
        "ApplicationWindow {\n"
        "    width: Globals.windowMinimumWidth; height: Globals.windowMinimumHeight\n"
        "    visible: true\n"
        "    ScreenHome { anchors.fill: parent }\n}\n",
        "qrc:/homeminimum.qml");
    auto* window = qobject_cast<QQuickWindow*>(root.get());
    for (const QString& link :
        { QStringLiteral("Materials"), QStringLiteral("Settings"), QStringLiteral("Support") }) {
        QQuickItem* option = findItem(window, "backgroundColorSelected", link);
        if (!option)
            continue;
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier,
            option->mapToScene(QPointF(option->width() / 2, option->height() / 2)).toPoint());
        shoot(window, QStringLiteral("home_minimum_size_%1.png").arg(link.toLower()));
    }
}

void formScreen(QQmlEngine& engine)
{
    std::unique_ptr<QObject> root = create(engine,
        "import QtQuick 2.15\nimport QtQuick.Window 2.15\nimport \"qrc:/\"\nimport "
        "\"qrc:/components/screen\"\n"
        "Window {\n    width: ApplicationWindowMediator.width; height: ApplicationWindowMediator.height\n"
        "    visible: true; color: \"#2b2b2b\"\n"
        "    ScreenForm { id: form; anchors.fill: parent; openFileDialog: function (dialog) {} }\n"
        "    function load(path) { return MaterialDocumentMediator.loadDocument(\"file:///\" + path) === "
        "true }\n"
        "    function toggleHelp() { form.toggleDocumentationDrawer(); return true }\n"
        "    function helpProgress() {\n        var loader = form.documentationDrawer.children[0]\n"
        "        return loader.item ? loader.item.loadProgress : -1\n    }\n"
        "    function createAndSave() {\n        MaterialDocumentMediator.createDocument(\"ORV_2.0_AA\")\n"
        "        form.formHeader.save()\n        return form.formHeader.validationDialog.opened\n    }\n"
        "    function toMinimumSize() {\n        form.formHeader.validationDialog.close()\n"
        "        width = Globals.windowMinimumWidth; height = Globals.windowMinimumHeight\n        return "
        "true\n    }\n"
        "    function atMinimumSize() {\n"
        "        return width === Globals.windowMinimumWidth && height === Globals.windowMinimumHeight\n    "
        "}\n"
        "    function focusField(label) {\n        var tabs = form.closeableTabView.tabView\n"
        "        var input = tabs.getTab(tabs.currentIndex).item.fieldByLabel(label).input.inputItem\n"
        "        input.forceActiveFocus(); input.selectAll(); return true\n    }\n"
        "    function leaveField() { form.forceActiveFocus(); return true }\n}\n",
        "qrc:/formscreens.qml");
    auto* window = qobject_cast<QQuickWindow*>(root.get());
    if (call(window, "load", QStringLiteral(SAMPLE_DOCUMENT)).toBool()) {
        call(window, "toggleHelp");
        waitFor([window] { return call(window, "helpProgress").toInt() == 100; }, 30000);
        shoot(window, QStringLiteral("form_with_help_drawer.png"));
        call(window, "toggleHelp");
    }
    if (call(window, "createAndSave").toBool())
        shoot(window, QStringLiteral("validation_dialog.png"));

    // Refused texts put back at the smallest window size: each value and its whole note in view.
    call(window, "toMinimumSize");
    waitFor([window] { return call(window, "atMinimumSize").toBool(); });
    const QStringList typed[] = { { QStringLiteral("Version"), QStringLiteral("1.2345678"),
                                      QStringLiteral("1.2345678e") },
        { QStringLiteral("Time Multiplier"), QStringLiteral("1.5"), QStringLiteral("1.2345678901234567e") } };
    for (const QStringList& field : typed) {
        for (int i = 1; i < field.size(); ++i) {
            call(window, "focusField", field.first());
            for (const QChar key : field.at(i))
                QTest::keyClick(window, key.toLatin1());
            call(window, "leaveField");
        }
    }
    QTest::qWait(200);
    shoot(window, QStringLiteral("form_notes_minimum_size.png"));
}

} // namespace

int main(int argc, char* argv[])
{
    QtWebEngine::initialize();
    QApplication app(argc, argv);
    if (argc != 2) {
        qCritical("usage: screenshots <output folder>");
        return 2;
    }
    outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputDir);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(GELV_ORGANISATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Gelvantrium"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GELV_VERSION));
    registerQmlTypes();
    installInterfaceFont();
    UpdateHelper::definitionsURL
        = QStringLiteral("https://127.0.0.1:9/updates.json"); // a closed loopback port

    QTemporaryDir files;
    seedSettings(files);
    QQmlApplicationEngine engine;
    splashAndMain(engine);
    homeSections(engine);
    homeAtMinimumSize(engine);
    formScreen(engine);
    return failures == 0 ? 0 : 1;
}
