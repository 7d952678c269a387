#pragma once

#include <QMetaMethod>
#include <QObject>
#include <QStringList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <functional>

// Records the names of every signal an object emits, in emission order.
class SignalLog : public QObject {
    Q_OBJECT
public:
    explicit SignalLog(QObject* watched)
    {
        const QMetaObject* meta = watched->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("record()"));
        for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() == QMetaMethod::Signal)
                connect(watched, method, this, slot);
        }
    }
    QStringList names;

public slots:
    void record()
    {
        names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name());
    }
};

inline QString writeXml(const std::function<void(QXmlStreamWriter&)>& write)
{
    QString text;
    QXmlStreamWriter writer(&text);
    writer.setAutoFormatting(true);
    write(writer);
    return text;
}

// Writes what `write` produces inside a wrapper element <T>.
inline QString writeWrapped(const std::function<void(QXmlStreamWriter&)>& write)
{
    return writeXml([&](QXmlStreamWriter& writer) {
        writer.writeStartElement(QStringLiteral("T"));
        write(writer);
        writer.writeEndElement();
    });
}

// Name and text of each child of the root element, e.g. "Dp=0.5".
inline QStringList childElements(const QString& xml)
{
    QStringList children;
    QXmlStreamReader reader(xml);
    reader.readNextStartElement();
    while (reader.readNextStartElement()) {
        const QString name = reader.name().toString();
        // Nested elements contribute their text only.
        const QString text = reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        children << name + QLatin1Char('=') + text;
    }
    return children;
}

// Puts a reader on the first start element of xml.
inline void startAtRoot(QXmlStreamReader& reader, const QString& xml)
{
    reader.addData(xml);
    reader.readNextStartElement();
}
