#include "../testsupport.h"
#include "application.h"
#include "fileOpenEventHandler.h"
#include "startup.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QCompleter>
#include <QFileDialog>
#include <QFileOpenEvent>
#include <QLineEdit>
#include <QSessionManager>
#include <QSignalSpy>
#include <QtTest>

class tst_Application : public QObject {
    Q_OBJECT
private slots:
    // Regression: at a session's end Qt's own handling closed the windows around the close logic.
    void closeAndSessionEndBecomeQuitRequests()
    {
        QSignalSpy quit(qApp, SIGNAL(handleQuitApplication()));
        QCloseEvent event;
        QVERIFY(QCoreApplication::sendEvent(qApp, &event));
        QCOMPARE(quit.count(), 1);
        QVERIFY(!event.isAccepted()); // the process does not end by itself
        QVERIFY(!QGuiApplication::isFallbackSessionManagementEnabled());
        QVERIFY(qApp->findChild<QSessionManager*>());
        emit qApp->commitDataRequest(*qApp->findChild<QSessionManager*>());
        QCOMPARE(quit.count(), 2);
    }

    void fileOpenEventBecomesOpenFile()
    {
        FileOpenEventHandler handler;
        QSignalSpy opened(&handler, &FileOpenEventHandler::openFile);
        struct Target : QObject {
            int userEvents = 0;
            void customEvent(QEvent*) override { ++userEvents; }
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
        QCOMPARE(opened.first().first().userType(), int(QMetaType::QUrl));
        QCOMPARE(opened.first().first().toUrl(), QUrl::fromLocalFile(QStringLiteral("/tmp/a b#1.zqmat")));
    }

    void openFilePath_data()
    {
        columns<QString, QString>("argument", "expected");
        QTest::newRow("empty argument") << "" << QString();
        QTest::newRow("relative with dots") << "./x/../m.zqmat"
                                            << "file:///" + QDir::currentPath() + "/m.zqmat";
        QTest::newRow("backslashes") << "/a\\b.zqmat"
                                     << "file:////a/b.zqmat";
        QTest::newRow("hash, percent, question mark, blank, non-ASCII")
            << "/a/Harz grün #2 100%?.zqmat"
            << "file:////a/Harz grün %232 100%25%3F.zqmat";
    }
    void openFilePath()
    {
        QFETCH(QString, argument);
        QFETCH(QString, expected);
        QCOMPARE(Startup::openFilePath({ "gelvantrium", argument }), expected);
    }

    // Regression: an open dialog showed the path typed at its last opening (a new path went
    // after it), and a completion popup open when it closed stayed and took the next click.
    void fileDialogOpensEmptyAndLeavesNoPopup()
    {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name && name->completer());
        dialog.show();
        name->setText(QStringLiteral("/tmp/typed.zqmat"));
        name->completer()->popup()->show();
        dialog.hide();
        QVERIFY(!name->completer()->popup()->isVisible());
        dialog.show();
        QCOMPARE(name->text(), QString());
        // A save dialog keeps the name it proposes.
        dialog.hide();
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.selectFile(QStringLiteral("proposed.zqmat"));
        dialog.show();
        QCOMPARE(name->text(), QStringLiteral("proposed.zqmat"));
    }

    // The first frame is rendered ahead only on a first run, while the shader cache is empty.
    void shaderCacheFilled()
    {
        QTemporaryDir cache;
        const QString folder = cache.filePath(QStringLiteral("qtshadercache-") + QSysInfo::buildAbi());
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!Startup::shaderCacheFilled(cache.path()));
        QVERIFY(writeFile(folder + QStringLiteral("/0123abcd"), {}));
        QVERIFY(Startup::shaderCacheFilled(cache.path()));
    }
};

int main(int argc, char* argv[])
{
    Application app(argc, argv);
    tst_Application test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
