#ifndef GELV_GUITEST_H
#define GELV_GUITEST_H

// What the interface tests share: the application set up as main does it.
#include "buildconfig.h"
#include "interfacefont.h"
#include "registertypes.h"

#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtTest>
#include <QtWebEngine>

#if __has_include("updatehelper.h")
#include "updatehelper.h"
#define GELV_TEST_HAVE_UPDATER
#endif

namespace GuiTest {

// False when the interface font is missing.
inline bool setUpApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(GELV_ORGANISATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Gelvantrium"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GELV_VERSION));
    // The offscreen platform has no OpenGL; windows and web views still render in software.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    registerQmlTypes();
#ifdef GELV_TEST_HAVE_UPDATER
    // Every home screen checks for updates: send that to a closed loopback port.
    UpdateHelper::definitionsURL = QStringLiteral("https://127.0.0.1:9/updates.json");
#endif
    return installInterfaceFont();
}

} // namespace GuiTest

#ifdef QT_WIDGETS_LIB
#include <QApplication>
// The web engine must be initialised before the application object exists.
#define GELV_GUI_TEST_MAIN(TestClass)                                                                        \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        QtWebEngine::initialize();                                                                           \
        QApplication app(argc, argv);                                                                        \
        TestClass test;                                                                                      \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
#endif

#endif
