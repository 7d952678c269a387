#pragma once

#include <QApplication>

class QSessionManager;

// The application object. It turns the system's quit request (an
// application-level close event, or the desktop session's commit-data request
// when the session ends) into handleQuitApplication(), so the window decides
// whether to close: the request never ends the process by itself.
//
// A QApplication rather than a plain QGuiApplication: on Linux the QML file
// dialogs fall back to Qt Widgets, which need one; a FileDialogTidier keeps
// those dialogs clean between openings.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

signals:
    void handleQuitApplication();

protected:
    bool event(QEvent* event) override;

private:
    void onCommitDataRequest(QSessionManager& manager);
};
