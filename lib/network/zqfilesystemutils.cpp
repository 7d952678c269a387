#include "zqfilesystemutils.h"

#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

namespace {

const QDir::Filters fileFilter = QDir::Files | QDir::NoDotAndDotDot;
const QDir::Filters dirFilter = QDir::Dirs | QDir::NoDotAndDotDot;

QString entryPath(const QDir& dir, const QString& name)
{
    return dir.absolutePath() + QLatin1Char('/') + name;
}

// Walks a tree whose links are followed. A folder already on the way down
// (reached again through a link) is skipped, and so is a folder that the
// walk's own copy created, so that a link into the destination cannot make
// the copy feed itself.
struct TreeWalk {
    QSet<QString> ancestors;
    QSet<QString> created;

    bool enter(const QDir& dir)
    {
        const QString canonical = dir.canonicalPath();
        if (canonical.isEmpty() || ancestors.contains(canonical) || created.contains(canonical))
            return false;
        ancestors.insert(canonical);
        return true;
    }
    void leave(const QDir& dir) { ancestors.remove(dir.canonicalPath()); }
};

void collectLeafFiles(const QDir& dir, TreeWalk& walk, QFileInfoList& files)
{
    if (!dir.exists() || !walk.enter(dir))
        return;
    for (const QString& name : dir.entryList(fileFilter))
        files.append(QFileInfo(entryPath(dir, name)));
    for (const QString& name : dir.entryList(dirFilter))
        collectLeafFiles(QDir(entryPath(dir, name)), walk, files);
    walk.leave(dir);
}

bool copyContents(const QDir& source, const QDir& destination, TreeWalk& walk)
{
    if (!source.exists()) {
        qWarning("ZqFileSystemUtils::CopyDirectoryContentsRecursive Source Directory Doesn't exist");
        return false;
    }
    if (!walk.enter(source))
        return true;
    if (!destination.exists()) {
        if (!QDir().mkpath(destination.absolutePath())) {
            walk.leave(source);
            return false;
        }
        walk.created.insert(destination.canonicalPath());
    }
    bool ok = true;
    for (const QString& name : source.entryList(fileFilter)) {
        const QString target = entryPath(destination, name);
        // A file already there is kept and is no failure.
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        if (!QFile::copy(entryPath(source, name), target))
            ok = false;
    }
    qDebug("ZqFileSystemUtils::CopyDirectoryContentsRecursive subCopying");
    for (const QString& name : source.entryList(dirFilter)) {
        if (!copyContents(QDir(entryPath(source, name)), QDir(entryPath(destination, name)), walk)) {
            ok = false;
            break;
        }
    }
    walk.leave(source);
    return ok;
}

bool refuseOwnSubtree(const QDir& source, const QString& destination)
{
    if (!ZqPaths::isWithin(ZqPaths::resolved(destination), source.canonicalPath()))
        return false;
    qWarning().noquote() << "ZqFileSystemUtils: refusing to copy" << source.absolutePath()
                         << "into its own tree at" << destination;
    return true;
}

} // namespace

QString ZqPaths::resolved(const QString& path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString rest;
    while (!QFileInfo::exists(existing)) {
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0)
            return QDir::cleanPath(existing + rest);
        rest.prepend(existing.mid(slash));
        existing.truncate(slash);
    }
    return QDir::cleanPath(QFileInfo(existing).canonicalFilePath() + rest);
}

bool ZqPaths::isWithin(const QString& path, const QString& root)
{
    return path == root || path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}

ZqFileSystemUtils::ZqFileSystemUtils(QObject* parent)
    : QObject(parent)
{
}

ZqFileSystemUtils::~ZqFileSystemUtils() = default;

qint64 ZqFileSystemUtils::DirectorySizeBytes(QDir dir)
{
    qint64 total = 0;
    for (const QFileInfo& file : dir.entryInfoList(fileFilter | QDir::NoSymLinks))
        total += file.size();
    for (const QString& name : dir.entryList(dirFilter | QDir::NoSymLinks))
        total += DirectorySizeBytes(QDir(entryPath(dir, name)));
    return total;
}

bool ZqFileSystemUtils::CopyDirectoryContentsRecursive(QDir source, QDir destination)
{
    if (source.exists() && refuseOwnSubtree(source, destination.absolutePath()))
        return false;
    TreeWalk walk;
    return copyContents(source, destination, walk);
}

bool ZqFileSystemUtils::CopyDirectoryRecursive(QDir source, QDir destination)
{
    if (!source.exists())
        return false;
    const QString target = entryPath(destination, source.dirName());
    if (refuseOwnSubtree(source, target))
        return false;
    if (!destination.exists() && !QDir().mkpath(destination.absolutePath()))
        return false;
    QDir().mkpath(target);
    if (!QFileInfo(target).isDir())
        return false;
    return CopyDirectoryContentsRecursive(source, QDir(target));
}

bool ZqFileSystemUtils::CopyLeafsToDirectoryRecursive(QDir source, QDir destination)
{
    if (!source.exists())
        return false;
    if (!destination.exists() && !QDir().mkpath(destination.absolutePath()))
        return false;
    bool ok = true;
    for (const QFileInfo& file : AllLeafFiles(source)) {
        const QString target = entryPath(destination, file.fileName());
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        if (!QFile::copy(file.absoluteFilePath(), target))
            ok = false;
    }
    return ok;
}

QFileInfoList ZqFileSystemUtils::AllLeafFiles(QDir dir)
{
    QFileInfoList files;
    TreeWalk walk;
    collectLeafFiles(dir, walk, files);
    return files;
}

bool ZqFileSystemUtils::RemoveDirectoryRecursive(QString directory)
{
    if (directory.isEmpty())
        return false;
    // Removing a link must not empty the folder it points to.
    if (QFileInfo(directory).isSymLink())
        return QFile::remove(directory);
    return QDir(directory).removeRecursively();
}

bool ZqFileSystemUtils::RemoveDirectoryContentsRecursive(QString directory)
{
    if (directory.isEmpty())
        return false;
    const QDir dir(directory);
    bool ok = true;
    // System lists dangling links too, so that they go as well.
    for (const QFileInfo& entry : dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink())
            ok = RemoveDirectoryRecursive(entry.absoluteFilePath()) && ok;
        else
            ok = QFile::remove(entry.absoluteFilePath()) && ok;
    }
    return ok;
}

bool ZqFileSystemUtils::RemoveLeafDirectory(QString directory)
{
    if (directory.isEmpty())
        return false;
    if (!QDir(directory).entryList(dirFilter).isEmpty())
        return false;
    return RemoveDirectoryRecursive(directory);
}

bool ZqFileSystemUtils::CreateDirectory(QString directory)
{
    return !directory.isEmpty() && QDir().mkpath(directory);
}

bool ZqFileSystemUtils::StartProgramDetached(QString program)
{
    return QProcess::startDetached(program, QStringList());
}

bool ZqFileSystemUtils::fileExists(QString filePath) { return QFileInfo::exists(filePath); }

QString ZqFileSystemUtils::extendedBaseName(QString path)
{
    const QString fileName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (fileName.isEmpty())
        return QString();
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot == fileName.size() - 1)
        return QFileInfo(path).baseName();
    return fileName.left(dot);
}

bool ZqFileSystemUtils::removeDirectoryRecursive(QString directory)
{
    return RemoveDirectoryRecursive(directory);
}

bool ZqFileSystemUtils::removeDirectoryContentsRecursive(QString directory)
{
    return RemoveDirectoryContentsRecursive(directory);
}

bool ZqFileSystemUtils::removeLeafDirectory(QString directory) { return RemoveLeafDirectory(directory); }

bool ZqFileSystemUtils::createDirectory(QString directory) { return CreateDirectory(directory); }

bool ZqFileSystemUtils::startProgramDetached(QString program)
{
    qDebug().noquote().nospace() << "Starting: " << program;
    return StartProgramDetached(program);
}
