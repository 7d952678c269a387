#include "fileOpenEventHandler.h"

#include <QDebug>
#include <QFileOpenEvent>

FileOpenEventHandler::FileOpenEventHandler(QObject* parent)
    : QObject(parent)
{
}

bool FileOpenEventHandler::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FileOpen) {
        const auto* fileEvent = static_cast<QFileOpenEvent*>(event);
        qInfo() << "Open file event received for" << fileEvent->file();
        emit openFile(QVariant(fileEvent->url()));
        return true;
    }
    return QObject::eventFilter(watched, event);
}
