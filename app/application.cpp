#include "application.h"

#include <QEvent>

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool Application::event(QEvent *event)
{
    if (event->type() == QEvent::Close) {
        event->ignore();
        emit handleQuitApplication();
        return true;
    }
    return QApplication::event(event);
}
