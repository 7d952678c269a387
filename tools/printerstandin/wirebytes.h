#pragma once
// Encoders for the printer protocol's data-stream (version 16) fields and frames,
// big-endian; shared by the stand-in and the test printers.

#include <QByteArray>
#include <QString>
#include <QtEndian>

namespace WireBytes {

inline QByteArray u32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A QString: its byte count, then UTF-16BE.
inline QByteArray text(const QString& s)
{
    QByteArray bytes = u32(quint32(s.size()) * 2);
    for (QChar c : s)
        bytes += char(c.unicode() >> 8) + QByteArray(1, char(c.unicode() & 0xFF));
    return bytes;
}

inline QByteArray blob(const QByteArray& b) { return u32(quint32(b.size())) + b; }

// The 12-byte header (payload length, type), then the payload.
inline QByteArray frame(quint32 type, const QByteArray& payload)
{
    QByteArray header(8, '\0');
    qToBigEndian(qint64(payload.size()), header.data());
    return header + u32(type) + payload;
}

} // namespace WireBytes
