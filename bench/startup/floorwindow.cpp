// A bare Qt Quick window started the way the application starts.
#include <QApplication>
#include <QQmlApplicationEngine>
#include <QtWebEngine>

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QtWebEngine::initialize();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setApplicationName(QStringLiteral("Floor"));
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/floorwindow.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;
    return app.exec();
}
