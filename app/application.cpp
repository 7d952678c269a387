#include "application.h"
#include "filedialogtidier.h"

#include <QCloseEvent>
#include <QSessionManager>
#include <QWindow>

#include <algorithm>

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // Qt's fallback would close the windows itself, bypassing the close logic.
    setFallbackSessionManagementEnabled(false);
    connect(this, &QGuiApplication::commitDataRequest, this, &Application::onCommitDataRequest);
    installEventFilter(new FileDialogTidier(this));
}

bool Application::event(QEvent* event)
{
    if (event->type() == QEvent::Close) {
        event->ignore();
        emit handleQuitApplication();
        return true;
    }
    return QApplication::event(event);
}

void Application::onCommitDataRequest(QSessionManager& manager)
{
    QCloseEvent quitRequest;
    sendEvent(this, &quitRequest);
    // A window still open shows its save prompt: the session must wait for the answer.
    const QWindowList windows = topLevelWindows();
    const bool stillOpen
        = std::any_of(windows.cbegin(), windows.cend(), [](const QWindow* w) { return w->isVisible(); });
    if (stillOpen && manager.allowsInteraction())
        manager.cancel();
}
