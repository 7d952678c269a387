#pragma once

#include <QObject>

// Tidies the Qt Widgets file dialog that the QML file dialogs fall back to on Linux. One
// dialog object serves every opening of a QML dialog, so without this an open dialog shows
// the path typed last time in its name field again (a new path typed then goes after it),
// and a name-completion popup still open when the dialog closes stays on screen and takes
// the next click. Installed on the application object, it watches every file dialog.
class FileDialogTidier : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
