#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

// A small tmpfs mounted on a folder, in a mount namespace of this thread's
// own, so that a full disk can be provoked. Unmounted when it goes.
class FullDisk {
public:
    explicit FullDisk(const QString& dir)
        : m_dir(QFile::encodeName(dir))
    {
        m_mounted = ::unshare(CLONE_NEWNS) == 0
            && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            && ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, "size=256k") == 0;
    }
    ~FullDisk()
    {
        if (m_mounted)
            ::umount(m_dir.constData());
    }
    // False where the system does not allow it.
    bool mounted() const { return m_mounted; }

    // Takes up the free space with a file "filler" until `leave` bytes remain.
    bool fill(qint64 leave = 4096) const
    {
        struct statvfs info;
        if (::statvfs(m_dir.constData(), &info) != 0)
            return false;
        const qint64 free = qint64(info.f_bavail) * qint64(info.f_frsize);
        QFile filler(QFile::decodeName(m_dir) + QStringLiteral("/filler"));
        return free > leave && filler.open(QIODevice::WriteOnly)
            && filler.write(QByteArray(int(free - leave), 'f')) == free - leave && filler.flush();
    }

private:
    QByteArray m_dir;
    bool m_mounted = false;
};

// `var` is a full disk on `dir` when `wanted`, else null; the test is skipped where none can be made.
#define GELV_FULL_DISK(var, wanted, dir)                                                                     \
    std::unique_ptr<FullDisk> var((wanted) ? new FullDisk(dir) : nullptr);                                   \
    if (var && !var->mounted())                                                                              \
    QSKIP("cannot mount a small filesystem here (needs a mount namespace)")
