#pragma once

#include <QString>

// Text as a document can hold it: characters XML 1.0 cannot carry (control
// characters other than tab and line feed, lone surrogates, U+FFFE, U+FFFF)
// are dropped, and "\r\n" or a lone "\r" become "\n", which is what a reader
// gives back. So what is saved is what reloads, and no pasted character can
// make a document unsavable.
inline QString xmlText(const QString& text)
{
    const auto legal = [](const QChar* at, const QChar* end) {
        const ushort c = at->unicode();
        if (c < 0x20)
            return c == '\t' || c == '\n';
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
        if (at->unicode() == '\r') {
            result.append(QLatin1Char('\n'));
            at += (at + 1 != end && at[1].unicode() == '\n') ? 2 : 1;
        } else if (!legal(at, end)) {
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
