#include "zqrepeatedwarnings.h"

#include <QDebug>

ZqRepeatedWarnings::ZqRepeatedWarnings(int summaryInterval_MS)
    : summaryInterval_MS(summaryInterval_MS)
{
}

ZqRepeatedWarnings::~ZqRepeatedWarnings() { flush(); }

bool ZqRepeatedWarnings::warn(const char* kind, const QString& text, QtMsgType type)
{
    Kind& entry = kinds[QByteArray(kind)];
    ++entry.total;
    entry.lastText = text;
    entry.type = type;
    if (entry.sinceWritten.isValid() && entry.sinceWritten.elapsed() < summaryInterval_MS) {
        ++entry.heldBack;
        return false;
    }
    writeOut(entry, text);
    return true;
}

void ZqRepeatedWarnings::flush()
{
    for (Kind& entry : kinds) {
        if (entry.heldBack > 0)
            writeOut(entry, entry.lastText);
    }
}

void ZqRepeatedWarnings::writeOut(Kind& entry, const QString& text)
{
    write(entry.type,
        entry.heldBack == 0 ? text
                            : text + QStringLiteral(" (%1 more like this not written)").arg(entry.heldBack));
    entry.heldBack = 0;
    entry.sinceWritten.start();
}

quint64 ZqRepeatedWarnings::count(const char* kind) const { return kinds.value(QByteArray(kind)).total; }

void ZqRepeatedWarnings::write(QtMsgType type, const QString& text)
{
    switch (type) {
    case QtDebugMsg:
        qDebug().noquote() << text;
        break;
    case QtInfoMsg:
        qInfo().noquote() << text;
        break;
    case QtCriticalMsg:
    case QtFatalMsg:
        qCritical().noquote() << text;
        break;
    case QtWarningMsg:
        qWarning().noquote() << text;
        break;
    }
}
