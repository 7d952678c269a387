#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QtGlobal>

// Keeps a warning that a peer can make this side repeat at will from filling the
// log: of each kind, the first is written at once; later ones are counted and
// written as one line with their count at most once per interval, and flush()
// (at the end of the peer's connection, and on destruction) writes what is left.
// One per connection (or per source of peer-driven warnings); not thread-safe.
class ZqRepeatedWarnings {
public:
    static constexpr int SummaryInterval_MS = 60000;

    explicit ZqRepeatedWarnings(int summaryInterval_MS = SummaryInterval_MS);
    // Flushes.
    ~ZqRepeatedWarnings();
    ZqRepeatedWarnings(const ZqRepeatedWarnings&) = delete;
    ZqRepeatedWarnings& operator=(const ZqRepeatedWarnings&) = delete;

    // Counts one warning of a kind (a fixed key, not peer text) and writes text at
    // the given level when it is the first of its kind, or when the interval has
    // passed since its kind was last written; then with the count held back.
    // True when written: the caller may add detail lines then.
    bool warn(const char* kind, const QString& text, QtMsgType type = QtWarningMsg);
    // Writes, for each kind with warnings held back, one line with the last text
    // and their count.
    void flush();
    // Warnings of the kind counted so far, written or not.
    quint64 count(const char* kind) const;

private:
    struct Kind {
        quint64 total = 0;
        quint64 heldBack = 0;
        QString lastText;
        QtMsgType type = QtWarningMsg;
        QElapsedTimer sinceWritten;
    };
    // Writes text with the count held back since the kind was last written.
    void writeOut(Kind& entry, const QString& text);
    static void write(QtMsgType type, const QString& text);

    int summaryInterval_MS;
    QHash<QByteArray, Kind> kinds;
};
