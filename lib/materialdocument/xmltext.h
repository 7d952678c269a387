#pragma once

#include <QString>
#include <QXmlStreamWriter>

// Text as a document can hold it: characters XML 1.0 cannot carry (control
// characters other than tab, line feed and carriage return, lone surrogates,
// U+FFFE, U+FFFF) are dropped, so no pasted character can make a document
// unsavable. Everything else is kept as given.
inline QString xmlText(const QString& text)
{
    const auto legal = [](const QChar* at, const QChar* end) {
        const ushort c = at->unicode();
        if (c < 0x20)
            return c == '\t' || c == '\n' || c == '\r';
        if (QChar::isHighSurrogate(c))
            return at + 1 < end && at[1].isLowSurrogate();
        if (QChar::isLowSurrogate(c))
            return false; // the low half of a pair is copied with its high half
        return c != 0xFFFE && c != 0xFFFF;
    };
    const QChar* begin = text.constData();
    const QChar* end = begin + text.size();
    const QChar* at = begin;
    while (at != end && legal(at, end))
        at = QChar::isHighSurrogate(at->unicode()) ? at + 2 : at + 1;
    if (at == end)
        return text;

    QString result;
    result.reserve(text.size());
    result.append(begin, int(at - begin));
    while (at != end) {
        if (!legal(at, end)) {
            ++at;
        } else if (QChar::isHighSurrogate(at->unicode())) {
            result.append(at, 2);
            at += 2;
        } else {
            result.append(*at++);
        }
    }
    return result;
}

// writeTextElement, except that a carriage return is written as "&#13;":
// QXmlStreamWriter writes it raw in element text, and a reader turns a raw
// one into a line feed. (Attribute values need nothing: the writer escapes
// their white space itself.)
inline void writeXmlTextElement(QXmlStreamWriter& writer, const QString& name, const QString& text)
{
    writer.writeStartElement(name);
    int from = 0;
    for (int cr; (cr = text.indexOf(QLatin1Char('\r'), from)) >= 0; from = cr + 1) {
        writer.writeCharacters(text.mid(from, cr - from));
        writer.writeEntityReference(QStringLiteral("#13"));
    }
    writer.writeCharacters(text.mid(from));
    writer.writeEndElement();
}
