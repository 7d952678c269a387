// A bare Qt Quick window set up as the application sets up its own.
#include <QApplication>
#include <QQmlApplicationEngine>
#include <QtWebEngine>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QtWebEngine::initialize();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setApplicationName(QStringLiteral("Floor"));
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/floor.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;
    return app.exec();
}
