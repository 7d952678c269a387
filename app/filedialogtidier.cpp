#include "filedialogtidier.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>

bool FileDialogTidier::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show && event->type() != QEvent::Hide)
        return false;
    auto* dialog = qobject_cast<QFileDialog*>(watched);
    auto* name = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
    if (!name)
        return false;
    if (event->type() == QEvent::Show) {
        // A save dialog's proposed name is given after it is shown; an open dialog proposes none.
        if (dialog->acceptMode() == QFileDialog::AcceptOpen)
            name->clear();
    } else if (QCompleter* completer = name->completer()) {
        completer->popup()->hide();
    }
    return false;
}
