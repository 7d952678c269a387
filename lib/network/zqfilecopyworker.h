#pragma once

#include <QFile>
#include <QObject>
#include <QSaveFile>
#include <QString>

#include <atomic>

// Copies one file; lives on a copier's thread (see ZqFileCopier). The copy is
// written to a temporary file beside the destination and renamed over it only
// when every byte is on disk, so a failed or cancelled copy leaves an existing
// destination as it was.
class ZqFileCopyWorker : public QObject {
    Q_OBJECT
public:
    // The most bytes read from the source at a time.
    static constexpr qint64 LocalCopyChunkSize = 1024;

    ZqFileCopyWorker(QString originFile, QString destinationFile, bool makeDestinationDirectories,
        QObject* parent = nullptr);
    ~ZqFileCopyWorker() override;

signals:
    // Rising whole percentages from 1 to 99, then 100 once the copy is in place.
    void percentComplete(int percentComplete);
    void copyFailed(QString errorString);
    void copyCancelled();

public slots:
    // Thread-safe when called directly: the copy loop looks at the flag before
    // it starts and after every chunk, so an early cancel is honoured too.
    void setCancelled();
    void Copy();

private:
    void discardDestination();
    void fail(const QString& errorString);

    QFile sourceFile;
    QSaveFile destinationFile;
    bool makeDestinationDirectories;
    int reportedPercent = 0;
    std::atomic<bool> cancelled { false };
};
