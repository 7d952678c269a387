#include "documentfile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringView>
#include <QTextCodec>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DocumentFile {

namespace {

    QString notRegular()
    {
        return QStringLiteral("File is not a regular file, so it cannot be a material document.");
    }
    QString tooLarge() { return QStringLiteral("File is too large to be a material document."); }

    // The encoding the XML parser would choose: a byte-order mark, else the
    // declaration's, else UTF-8.
    QTextCodec* codecFor(const QByteArray& bytes, QString& error)
    {
        if (QTextCodec* codec = QTextCodec::codecForUtfText(bytes, nullptr))
            return codec;
        static const QRegularExpression declaration(
            QStringLiteral("^<\\?xml[^>]*\\sencoding\\s*=\\s*[\"']([^\"']*)[\"']"));
        const QRegularExpressionMatch match = declaration.match(QString::fromLatin1(bytes.left(256)));
        if (!match.hasMatch())
            return QTextCodec::codecForMib(106); // UTF-8
        QTextCodec* codec = QTextCodec::codecForName(match.captured(1).toLatin1());
        if (!codec)
            error = QStringLiteral("Encoding %1 is unsupported").arg(match.captured(1));
        return codec;
    }

    const QChar* find(const QChar* from, const QChar* end, QLatin1String text)
    {
        for (; from + text.size() <= end; ++from) {
            if (QStringView(from, text.size()) == text)
                return from + text.size();
        }
        return end;
    }

    bool startsWith(const QChar* from, const QChar* end, QLatin1String text)
    {
        return end - from >= text.size() && QStringView(from, text.size()) == text;
    }

} // namespace

bool read(const QString& path, QString& text, QString& error)
{
    // Opened without blocking, so that a FIFO with no writer is refused
    // instead of waiting forever; checked on the open file, so nothing can be
    // swapped in between.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = qt_error_string(errno);
        return false;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = notRegular();
        ::close(fd);
        return false;
    }
    if (status.st_size > maxBytes) {
        error = tooLarge();
        ::close(fd);
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return false;
    }
    // The file may grow after the check, or report no size at all.
    QByteArray bytes;
    bytes.reserve(int(status.st_size));
    char chunk[64 * 1024];
    qint64 got = 0;
    while ((got = file.read(chunk, sizeof chunk)) > 0) {
        if (bytes.size() + got > maxBytes) {
            error = tooLarge();
            return false;
        }
        bytes.append(chunk, int(got));
    }
    if (got < 0) {
        error = file.errorString();
        return false;
    }
    QTextCodec* codec = codecFor(bytes, error);
    if (!codec)
        return false;
    QTextDecoder decoder(codec);
    text = decoder.toUnicode(bytes);
    if (decoder.hasFailure()) {
        error = QStringLiteral("Encountered incorrectly encoded content.");
        text.clear();
        return false;
    }
    return true;
}

QString screen(const QString& text)
{
    int machines = 0;
    int qualityLevels = 0;
    int elements = 0;
    int attributes = 0;
    const QChar* at = text.constData();
    const QChar* const end = at + text.size();
    while (at != end) {
        if (*at++ != QLatin1Char('<'))
            continue;
        if (startsWith(at, end, QLatin1String("!--"))) {
            at = find(at, end, QLatin1String("-->"));
        } else if (startsWith(at, end, QLatin1String("![CDATA["))) {
            at = find(at, end, QLatin1String("]]>"));
        } else if (startsWith(at, end, QLatin1String("?"))) {
            at = find(at, end, QLatin1String("?>"));
        } else if (startsWith(at, end, QLatin1String("!"))) {
            return QStringLiteral(
                "File has a document type declaration, which a material document cannot have.");
        } else if (!startsWith(at, end, QLatin1String("/"))) {
            // A start tag: its name (the part after a prefix is what the
            // readers compare), then attributes up to the '>' outside quotes.
            const QChar* name = at;
            while (at != end && !at->isSpace() && *at != QLatin1Char('/') && *at != QLatin1Char('>')) {
                if (*at++ == QLatin1Char(':'))
                    name = at;
            }
            const QStringView localName(name, at - name);
            if (++elements > maxElements)
                return QStringLiteral("File has too many elements to be a material document.");
            if (localName == QLatin1String("Machine") && ++machines > maxMachines)
                return QStringLiteral("File has too many machines to be a material document.");
            if (localName == QLatin1String("Quality") && ++qualityLevels > maxQualityLevels)
                return QStringLiteral("File has too many quality levels to be a material document.");
            int elementAttributes = 0;
            QChar quote;
            for (; at != end; ++at) {
                if (!quote.isNull()) {
                    if (*at == quote)
                        quote = QChar();
                } else if (*at == QLatin1Char('"') || *at == QLatin1Char('\'')) {
                    quote = *at;
                } else if (*at == QLatin1Char('=')) {
                    if (++elementAttributes > maxAttributesPerElement)
                        return QStringLiteral(
                            "File has an element with too many attributes to be a material document.");
                    if (++attributes > maxAttributes)
                        return QStringLiteral("File has too many attributes to be a material document.");
                } else if (*at == QLatin1Char('>')) {
                    break;
                }
            }
        }
    }
    return QString();
}

QString saveRefusal(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return QStringLiteral("Cannot save over something that is not a regular file.");
    const QString name = info.exists() ? QFileInfo(info.canonicalFilePath()).fileName() : info.fileName();
    if (QFile::encodeName(name).size() > maxSavedNameBytes)
        return QStringLiteral("File name is too long to save: at most %1 bytes are possible.")
            .arg(maxSavedNameBytes);
    return QString();
}

} // namespace DocumentFile
