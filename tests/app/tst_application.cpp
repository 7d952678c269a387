#include "../testsupport.h"
#include "application.h"
#include "fileOpenEventHandler.h"
#include "startup.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QColor>
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

    // The pixel an unpainted window is filled with: each channel in its own bits of the visual.
    void backgroundPixel_data()
    {
        columns<QString, quint32, quint32, quint32, int, quint32>(
            "color", "redMask", "greenMask", "blueMask", "depth", "expected");
        QTest::newRow("24-bit RGB") << "#2b2b2b" << 0xff0000u << 0xff00u << 0xffu << 24 << 0x2b2b2bu;
        QTest::newRow("24-bit RGB, channels differ")
            << "#eb7a16" << 0xff0000u << 0xff00u << 0xffu << 24 << 0xeb7a16u;
        QTest::newRow("32-bit ARGB is opaque")
            << "#eb7a16" << 0xff0000u << 0xff00u << 0xffu << 32 << 0xffeb7a16u;
        QTest::newRow("BGR order") << "#eb7a16" << 0xffu << 0xff00u << 0xff0000u << 24 << 0x167aebu;
        QTest::newRow("16-bit 565") << "#eb7a16" << 0xf800u << 0x07e0u << 0x1fu << 16 << 0xebc3u;
        QTest::newRow("16-bit 565, white") << "#ffffff" << 0xf800u << 0x07e0u << 0x1fu << 16 << 0xffffu;
    }
    void backgroundPixel()
    {
        QFETCH(QString, color);
        QFETCH(quint32, redMask);
        QFETCH(quint32, greenMask);
        QFETCH(quint32, blueMask);
        QFETCH(int, depth);
        QFETCH(quint32, expected);
        QCOMPARE(Startup::backgroundPixel(QColor(color), redMask, greenMask, blueMask, depth), expected);
    }
};

int main(int argc, char* argv[])
{
    Application app(argc, argv);
    tst_Application test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
