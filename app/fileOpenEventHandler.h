#pragma once

#include <QObject>
#include <QVariant>

// Event filter for the application object: turns an open-file event (a
// document opened from the desktop) into openFile(), carrying the file's QUrl.
class FileOpenEventHandler : public QObject {
    Q_OBJECT
public:
    explicit FileOpenEventHandler(QObject* parent = nullptr);

signals:
    void openFile(QVariant filePath);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
