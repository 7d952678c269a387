#include "application.h"
#include "buildconfig.h"
#include "fileOpenEventHandler.h"
#include "interfacefont.h"
#include "logger.h"
#include "registertypes.h"
#include "startup.h"
#include "updatehelper.h"

#include <QDebug>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QtWebEngine>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    Startup::limitTextureAtlas();
    const bool webSandboxOff = Startup::disableWebSandboxForRoot();
    // Qt 5.15 needs this before the application object exists.
    QtWebEngine::initialize();

    Application app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(GELV_ORGANISATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Gelvantrium"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GELV_VERSION));
    UpdateHelper::applicationVersion = QCoreApplication::applicationVersion();
    if (!Startup::protectSettingsFile(QSettings().fileName()))
        qWarning() << "Could not make the settings file private:" << QSettings().fileName();
    installInterfaceFont();

    // Lives until the process ends.
    auto* fileOpenEventHandler = new FileOpenEventHandler();
    app.installEventFilter(fileOpenEventHandler);

    Logger::logParentDirectory = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
    qInstallMessageHandler(Logger::messageHandler);
    Logger::initialization();
    Startup::quitOnTermination(&app);
    if (webSandboxOff)
        qWarning() << "Running as root: the sandbox of the web pages is turned off";

    // Which installation is running; the logger's level decides whether the log keeps it.
    qDebug() << QCoreApplication::applicationDirPath();

    registerQmlTypes();

    QQmlApplicationEngine engine;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    engine.rootContext()->setContextProperty(
        QStringLiteral("openFilePath"), Startup::openFilePath(arguments));

#ifdef GELV_TEST_HOOKS
    // Only in the test build: tests start the program with a root file of their own.
    engine.load(Startup::rootQmlUrl(qEnvironmentVariable("GELV_ROOT_QML")));
#else
    engine.load(Startup::rootQmlUrl());
#endif
    if (engine.rootObjects().isEmpty())
        return -1;

    QObject* window = engine.rootObjects().constFirst();
    if (auto* quickWindow = qobject_cast<QQuickWindow*>(window))
        Startup::showBackgroundUntilFirstFrame(quickWindow, quickWindow->color());
    QObject::connect(fileOpenEventHandler, SIGNAL(openFile(QVariant)), window, SLOT(openFile(QVariant)));
    QObject::connect(&app, SIGNAL(handleQuitApplication()), window, SLOT(handleQuitApplication()));

    return app.exec();
}
