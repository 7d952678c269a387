#include "application.h"
#include "fileOpenEventHandler.h"
#include "startup.h"

#include <QCloseEvent>
#include <QFileOpenEvent>
#include <QSessionManager>
#include <QSignalSpy>
#include <QtTest>


class tst_Application : public QObject
{
    Q_OBJECT
private slots:
    void closeEventBecomesQuitRequest();
    void fileOpenEventBecomesOpenFile();
    void openFilePath_data();
    void openFilePath();
    void sessionEndBecomesQuitRequest();
};

void tst_Application::closeEventBecomesQuitRequest()
{
    QSignalSpy quit(qApp, SIGNAL(handleQuitApplication()));
    QCloseEvent event;
    QVERIFY(event.isAccepted());
    QVERIFY(QCoreApplication::sendEvent(qApp, &event));
    QCOMPARE(quit.count(), 1);
    QVERIFY(!event.isAccepted()); // the process does not end by itself
}

void tst_Application::fileOpenEventBecomesOpenFile()
{
    FileOpenEventHandler handler;
    QSignalSpy opened(&handler, &FileOpenEventHandler::openFile);
    struct Target : QObject
    {
        int userEvents = 0;
        void customEvent(QEvent *) override { ++userEvents; }
    } target;
    target.installEventFilter(&handler);
    QEvent other(QEvent::User);
    QCoreApplication::sendEvent(&target, &other);
    QCOMPARE(target.userEvents, 1); // other events pass the filter

    qApp->installEventFilter(&handler);
    QTest::ignoreMessage(QtInfoMsg, "Open file event received for \"/tmp/a b#1.zqmat\"");
    QFileOpenEvent event(QUrl::fromLocalFile(QStringLiteral("/tmp/a b#1.zqmat")));
    QVERIFY(QCoreApplication::sendEvent(qApp, &event));
    qApp->removeEventFilter(&handler);
    QCOMPARE(opened.count(), 1);
    const QVariant argument = opened.constFirst().constFirst();
    QCOMPARE(argument.userType(), int(QMetaType::QUrl));
    QCOMPARE(argument.toUrl().toLocalFile(), QStringLiteral("/tmp/a b#1.zqmat"));
}

void tst_Application::openFilePath_data()
{
    const QString cwd = QDir::currentPath();
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty argument") << QStringList{"gelvantrium", ""} << QString();
    QTest::newRow("absolute") << QStringList{"gelvantrium", "/a/b.zqmat"} << "file:////a/b.zqmat";
    QTest::newRow("relative with dots") << QStringList{"gelvantrium", "./x/../m.zqmat"} << "file:///" + cwd + "/m.zqmat";
    QTest::newRow("backslashes") << QStringList{"gelvantrium", "/a\\b.zqmat"} << "file:////a/b.zqmat";
    QTest::newRow("hash") << QStringList{"gelvantrium", "/a/m#2.zqmat"} << "file:////a/m%232.zqmat";
    QTest::newRow("percent and question mark") << QStringList{"gelvantrium", "/a/100%?.zqmat"} << "file:////a/100%25%3F.zqmat";
    QTest::newRow("non-ASCII and blank") << QStringList{"gelvantrium", "/a/Harz grün.zqmat"} << "file:////a/Harz grün.zqmat";
}

void tst_Application::openFilePath()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    const QString text = Startup::openFilePath(arguments);
    QCOMPARE(text, expected);
    // The QML side turns the text back into a local file through QUrl.
    if (!text.isEmpty() && !arguments.at(1).contains(QLatin1Char('\\'))) {
        const QUrl url(text);
        QVERIFY(url.isValid() && url.fragment().isEmpty() && !url.hasQuery());
        QCOMPARE(QDir::cleanPath(url.toLocalFile()), QDir::cleanPath(QDir::current().absoluteFilePath(arguments.at(1))));
    }
}

// Regression: Qt's own handling closed the windows around the close logic.
void tst_Application::sessionEndBecomesQuitRequest()
{
    QVERIFY(!QGuiApplication::isFallbackSessionManagementEnabled());
    auto *manager = qApp->findChild<QSessionManager *>();
    QVERIFY(manager);
    QSignalSpy quit(qApp, SIGNAL(handleQuitApplication()));
    emit qApp->commitDataRequest(*manager);
    QCOMPARE(quit.count(), 1);
}

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    tst_Application test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
