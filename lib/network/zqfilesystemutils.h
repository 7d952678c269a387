#pragma once

#include <QDir>
#include <QFileInfoList>
#include <QObject>
#include <QString>

// Directory and file helpers of the network library. Listings leave out hidden
// entries and are not sorted. Symbolic links are followed like what they point
// to, except by DirectorySizeBytes and by the removals, which delete a link and
// never what it points to. A link back to a directory being walked is not
// walked again, so link cycles end.
class ZqFileSystemUtils : public QObject {
    Q_OBJECT
public:
    explicit ZqFileSystemUtils(QObject* parent = nullptr);
    ~ZqFileSystemUtils() override;

    // Bytes of all files below dir; links are neither counted nor followed.
    static qint64 DirectorySizeBytes(QDir dir);
    // Copies the tree below source into destination, keeping files that exist
    // there already. False when the source is missing, the destination lies in
    // the source's own tree, or any copy failed.
    static bool CopyDirectoryContentsRecursive(QDir source, QDir destination);
    // Copies source itself, as a folder of the same name, into destination.
    static bool CopyDirectoryRecursive(QDir source, QDir destination);
    // Copies every file below source flat into destination; of several files
    // with one name the first listed wins.
    static bool CopyLeafsToDirectoryRecursive(QDir source, QDir destination);
    // Every file below dir, a folder's own files before its subfolders'.
    static QFileInfoList AllLeafFiles(QDir dir);
    static bool RemoveDirectoryRecursive(QString directory);
    // Empties the folder and keeps it.
    static bool RemoveDirectoryContentsRecursive(QString directory);
    // Removes a folder with its files unless it has a subfolder.
    static bool RemoveLeafDirectory(QString directory);
    static bool CreateDirectory(QString directory);
    // The whole text is the program's path: it is never split into arguments.
    static bool StartProgramDetached(QString program);
    // The file name without its last suffix: "a.tar.gz" gives "a.tar".
    static QString extendedBaseName(QString path);

    Q_INVOKABLE bool removeDirectoryRecursive(QString directory);
    Q_INVOKABLE bool removeDirectoryContentsRecursive(QString directory);
    Q_INVOKABLE bool removeLeafDirectory(QString directory);
    Q_INVOKABLE bool createDirectory(QString directory);
    Q_INVOKABLE static bool fileExists(QString filePath);
    Q_INVOKABLE bool startProgramDetached(QString program);
};

// Path checks shared by the library's file code.
namespace ZqPaths {
// The absolute path with every link resolved, also for a path that does not
// exist yet: its nearest existing ancestor is resolved and the rest appended.
QString resolved(const QString& path);
// Whether path is root itself or lies below it; both are taken as given.
bool isWithin(const QString& path, const QString& root);
} // namespace ZqPaths
