#pragma once

#include <QFile>
#include <QObject>
#include <QString>

#include <atomic>

// Copies one file; lives on a copier's thread (see ZqFileCopier). The copy is
// written to a temporary file beside the destination and renamed over it only
// when every byte is on disk, so a failed or cancelled copy leaves an existing
// destination as it was. Only a regular file is copied: a pipe or a device
// would block the thread or never end.
class ZqFileCopyWorker : public QObject {
    Q_OBJECT
public:
    // The most bytes read from the source at a time.
    static constexpr qint64 LocalCopyChunkSize = 1024;

    ZqFileCopyWorker(QString originFile, QString destinationFile, bool makeDestinationDirectories,
        QObject* parent = nullptr);
    ~ZqFileCopyWorker() override;

    // Set before the copy: the destination must lie below this folder, and
    // the folders between are opened one by one without following links, so
    // that swapping one for a link while the copy runs leads nowhere else.
    void setDestinationRoot(const QString& root) { destinationRoot = root; }
    // False: an origin that is a link is not copied (nor what it points to).
    void setFollowOriginLink(bool follow) { followOriginLink = follow; }

    // Writes all of data to fd, raw, so that a short write on a full disk shows
    // its cause; false with that cause in error.
    static bool writeAll(int fd, const char* data, qint64 size, QString& error);

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
    bool openSource(QString& error);
    // The folder that is to hold the destination, as a descriptor; -1 with a reason.
    int openDestinationFolder(QString& error);
    bool openDestination(QString& error);
    bool commitDestination(QString& error);
    void discardDestination();
    void fail(const QString& errorString);

    QFile sourceFile;
    QFile destinationFile; // the temporary file while the copy runs
    bool makeDestinationDirectories;
    int reportedPercent = 0;
    std::atomic<bool> cancelled { false };
    QString destinationName;
    QString destinationRoot;
    bool followOriginLink = true;
    int destinationFolder = -1;
    QByteArray temporaryName; // within destinationFolder
};
