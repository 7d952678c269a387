// The one line per figure that bench/run.sh gathers into its table. The ratio is
// ours / floor; the target reads "<=2" (at most) or ">=0.5" (at least), or "none"
// where the figure is only reported.
#pragma once

#include <QFile>
#include <QString>

#include <cstdio>

inline void benchRow(const char* name, double ours, double floor, const char* unit, const char* target)
{
    std::printf("BENCHROW\t%s\t%.6g\t%.6g\t%s\t%s\n", name, ours, floor, unit, target);
    std::fflush(stdout);
}

// Writes a file of `size` bytes in a fixed pattern that doesn't compress; false when it can't.
inline bool writePatternFile(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 31 + i / 977);
    for (qint64 done = 0; done < size; done += block.size())
        file.write(block);
    return file.flush();
}

// A figure in KiB from /proc/<process>/status, such as "VmRSS:"; process is "self" or a
// pid. -1 when it cannot be read.
inline qint64 procStatusKiB(const QString& process, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
