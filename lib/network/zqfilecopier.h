#pragma once

#include <QObject>
#include <QString>
#include <QThread>

class ZqFileCopyWorker;

// Copies one file at a time on a thread of its own. After copy() has returned
// true exactly one of copyComplete, copyFailed or copyCancelled follows, on the
// copier's thread. An existing destination is replaced only by a complete copy.
// A source that is not a regular file (a pipe, a device) ends in copyFailed at
// once, so the destructor, which waits for a copy in progress, waits only for
// a regular file's bytes.
class ZqFileCopier : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString originFile READ originFile WRITE setOriginFile)
    Q_PROPERTY(QString destinationFile READ destinationFile WRITE setDestinationFile)
    Q_PROPERTY(int percentComplete READ percentComplete NOTIFY percentCompleteChanged)
    Q_PROPERTY(bool destinationExists READ destinationExists NOTIFY destinationExistsChanged)
    Q_PROPERTY(bool makeDestinationDirectories READ makeDestinationDirectories WRITE
            setMakeDestinationDirectories NOTIFY makeDestinationDirectoriesChanged)

public:
    explicit ZqFileCopier(bool makeDestinationDirectories, QObject* parent = nullptr);
    // Waits for a copy in progress to end.
    ~ZqFileCopier() override;

    QString originFile() const { return m_originFile; }
    void setOriginFile(const QString& path);
    QString destinationFile() const { return m_destinationFile; }
    void setDestinationFile(const QString& path);
    int percentComplete() const { return m_percentComplete; }
    bool destinationExists() const;
    bool makeDestinationDirectories() const { return m_makeDestinationDirectories; }
    void setMakeDestinationDirectories(bool make);

    // Set before copy(): the destination must lie below this folder, reached
    // without following a link on the way (see ZqFileCopyWorker).
    void setDestinationRoot(const QString& root) { m_destinationRoot = root; }
    // Set before copy(): false refuses an origin that is a link, so that a
    // link swapped over it can't hand over another file.
    void setFollowOriginLink(bool follow) { m_followOriginLink = follow; }

    // False, with no signal, when a copy is running, the origin is missing,
    // the destination is empty or names the origin itself.
    Q_INVOKABLE bool copy();
    // True when a running copy (below 100 percent) was asked to stop.
    Q_INVOKABLE bool cancelCopy();

signals:
    void startCopy();
    void deleteWorker();
    void destinationExistsChanged(ZqFileCopier* copier);
    void makeDestinationDirectoriesChanged();
    void percentCompleteChanged(ZqFileCopier* copier);
    void copyComplete(ZqFileCopier* copier);
    void copyFailed(ZqFileCopier* copier, QString errorString);
    void copyCancelled();

protected slots:
    void onPercentComplete(int percentComp);
    void onCopyFailed(QString errorString);
    void onCopyCancelled();

private:
    void releaseWorker();

    ZqFileCopyWorker* worker = nullptr;
    QString m_originFile;
    QString m_destinationFile;
    QString m_destinationRoot;
    bool m_followOriginLink = true;
    bool m_makeDestinationDirectories;
    QThread workerThread;
    int m_percentComplete = 0;
};

Q_DECLARE_METATYPE(ZqFileCopier*)
