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
