#pragma once

#include <QFile>
#include <QTest>

// The data columns of a test in one call: columns<int, QString>("size", "name").
template <typename... T, typename... Names> void columns(Names... names)
{
    (QTest::addColumn<T>(names), ...);
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A kB figure of /proc/<pid>/status ("VmRSS:", "VmHWM:"), this process's by default; -1 when absent.
inline qint64 statusKiB(const char* field, qint64 pid = 0)
{
    const QString path
        = pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status");
    for (const QByteArray& line : fileBytes(path).split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

inline qint64 residentKiB(qint64 pid = 0) { return statusKiB("VmRSS:", pid); }

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}
