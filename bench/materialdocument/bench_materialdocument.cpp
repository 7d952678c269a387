// Reads and writes a large material document (3 machines x 40 quality
// levels, every field present) and compares with bare QXmlStreamReader and
// QXmlStreamWriter passes over the same elements, measured in the same run.

#include "benchrow.h"
#include "pelluxmaterialdocument.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVector>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

void fillShared(BaseMaterialObject& object, int seed)
{
    for (int i = 0; i < BaseMaterialObject::parameterCount; ++i) {
        const BaseMaterialObject::Parameter& p = BaseMaterialObject::parameters()[i];
        if (p.isSwitch)
            object.setProperty(p.property, (i + seed) % 2 == 0);
        else
            object.setProperty(p.property, p.minimum + (p.maximum - p.minimum) * ((i + seed) % 7 + 1) / 9.0);
    }
    CycleSetting* cycle = object.CycleSettings();
    for (int i = 0; i < CycleSetting::fieldCount; ++i) {
        const CycleSetting::Field& f = CycleSetting::fields()[i];
        const QByteArray property = (f.element.left(1).toLower() + f.element.mid(1)).toLatin1();
        if (f.kind == CycleSetting::Field::Switch)
            cycle->setProperty(property, true);
        else if (f.kind == CycleSetting::Field::Int)
            cycle->setProperty(property, 100 * i + seed);
        else
            cycle->setProperty(property, 1.0 / (i + 3) + seed * 0.01);
    }
}

void fillDocument(PelluxMaterialDocument& document, int machines, int levels)
{
    document.setDescription(QStringLiteral("Benchmark material with every field present"));
    document.setVersion(QStringLiteral("1.0"));
    document.setFriendlyName(QStringLiteral("Bench"));
    document.setFriendlyColorRed(10);
    document.setFriendlyColorGreen(20);
    document.setFriendlyColorBlue(30);
    document.setFriendlyColorHueF(0.25f);
    document.setFriendlyColorSatF(50.5f);
    document.setFriendlyColorLightnessF(40.0f);
    document.setPrevImageName(QStringLiteral("bench.png"));
    document.setDistributedFlag(true);
    fillShared(document, 0);
    for (int m = 0; m < machines; ++m) {
        auto* machine = new Machine;
        machine->setModelName(Machine::MachineModelNames(m % 3));
        machine->setPreferredQuality(QStringLiteral("q0"));
        fillShared(*machine, m + 1);
        for (int q = 0; q < levels; ++q) {
            auto* level = new QualityLevel;
            level->setName(QStringLiteral("q%1").arg(q));
            level->setDisplayName(QStringLiteral("Quality %1").arg(q));
            level->setThickness_um(10 + q * 5);
            fillShared(*level, q + m);
            machine->_appendQualityLevel(level);
        }
        document._appendMachine(machine);
    }
}

// Mean time per call in microseconds, best of several rounds; the two jobs
// alternate round by round so that load from elsewhere hits both alike.
struct Pair {
    double first;
    double second;
};

int iterationsFor(const std::function<void()>& job)
{
    QElapsedTimer timer;
    int iterations = 1;
    for (;;) {
        timer.start();
        for (int i = 0; i < iterations; ++i)
            job();
        if (timer.nsecsElapsed() > 50'000'000 || iterations >= (1 << 20))
            return iterations;
        iterations *= 2;
    }
}

double timeRound(const std::function<void()>& job, int iterations)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < iterations; ++i)
        job();
    return timer.nsecsElapsed() / 1000.0 / iterations;
}

Pair measurePair(const std::function<void()>& first, const std::function<void()>& second)
{
    const int firstIterations = iterationsFor(first);
    const int secondIterations = iterationsFor(second);
    Pair best { 1e300, 1e300 };
    for (int round = 0; round < 9; ++round) {
        best.first = std::min(best.first, timeRound(first, firstIterations));
        best.second = std::min(best.second, timeRound(second, secondIterations));
    }
    return best;
}

// The element stream of a document, for the bare writer to replay.
struct Event {
    enum Kind { Start, End, Text, Attribute } kind;
    QString name;
    QString value;
};

QVector<Event> eventsOf(const QString& xml)
{
    QVector<Event> events;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            const QString name = reader.name().toString();
            const QXmlStreamAttributes attributes = reader.attributes();
            events.append({ Event::Start, name, QString() });
            for (const QXmlStreamAttribute& attribute : attributes)
                events.append(
                    { Event::Attribute, attribute.name().toString(), attribute.value().toString() });
            break;
        }
        case QXmlStreamReader::EndElement:
            events.append({ Event::End, QString(), QString() });
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isWhitespace())
                events.append({ Event::Text, QString(), reader.text().toString() });
            break;
        default:
            break;
        }
    }
    // Start, Text, End becomes one text element, as the model writes it.
    QVector<Event> merged;
    for (int i = 0; i < events.size(); ++i) {
        if (events[i].kind == Event::Start && i + 2 < events.size() && events[i + 1].kind == Event::Text
            && events[i + 2].kind == Event::End) {
            merged.append({ Event::Text, events[i].name, events[i + 1].value });
            i += 2;
        } else {
            merged.append(events[i]);
        }
    }
    return merged;
}

void writeEvents(QXmlStreamWriter& writer, const QVector<Event>& events)
{
    for (const Event& event : events) {
        switch (event.kind) {
        case Event::Start:
            writer.writeStartElement(event.name);
            break;
        case Event::Attribute:
            writer.writeAttribute(event.name, event.value);
            break;
        case Event::Text:
            writer.writeTextElement(event.name, event.value);
            break;
        case Event::End:
            writer.writeEndElement();
            break;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    PelluxMaterialDocument document;
    fillDocument(document, 3, 40);
    const QString xml = document.ToXMLString();
    const QVector<Event> events = eventsOf(xml);

    // Sanity: the model reads back what it wrote, and the floor writer
    // produces the same text.
    {
        PelluxMaterialDocument copy;
        QXmlStreamReader reader(xml);
        if (!copy.FromXML(reader) || copy.ToXMLString() != xml) {
            std::fprintf(stderr, "round trip differs\n");
            return 1;
        }
        QString floorText;
        QXmlStreamWriter writer(&floorText);
        writer.setAutoFormatting(true);
        writeEvents(writer, events);
        if (floorText != xml) {
            std::fprintf(stderr, "floor writer output differs\n");
            return 1;
        }
    }

    int elements = 0;
    for (const Event& event : events)
        elements += event.kind == Event::Start || event.kind == Event::Text;

    volatile int sink = 0;
    const Pair read = measurePair(
        [&] {
            PelluxMaterialDocument copy;
            QXmlStreamReader reader(xml);
            sink = sink + copy.FromXML(reader);
        },
        [&] {
            QXmlStreamReader reader(xml);
            int total = 0;
            while (!reader.atEnd()) {
                const QXmlStreamReader::TokenType token = reader.readNext();
                if (token == QXmlStreamReader::StartElement) {
                    const QXmlStreamAttributes attributes = reader.attributes();
                    for (const QXmlStreamAttribute& attribute : attributes)
                        total += attribute.value().toString().size();
                } else if (token == QXmlStreamReader::Characters && !reader.isWhitespace()) {
                    total += reader.text().toString().size();
                }
            }
            sink = sink + total;
        });
    const Pair write = measurePair([&] { sink = sink + document.ToXMLString().size(); },
        [&] {
            QString text;
            QXmlStreamWriter writer(&text);
            writer.setAutoFormatting(true);
            writeEvents(writer, events);
            sink = sink + text.size();
        });

    PelluxMaterialDocument small;
    fillDocument(small, 1, 1);
    const double smallWrite = measurePair([&] { sink = sink + small.ToXMLString().size(); }, [] {}).first;

    std::printf(
        "document: 3 machines x 40 quality levels, %d elements, %d characters\n", elements, int(xml.size()));
    std::printf("read   FromXML        %9.1f us   bare QXmlStreamReader %9.1f us   ratio %.2f\n", read.first,
        read.second, read.first / read.second);
    std::printf("write  ToXMLString    %9.1f us   bare QXmlStreamWriter %9.1f us   ratio %.2f\n", write.first,
        write.second, write.first / write.second);
    std::printf("one machine, one quality level: ToXMLString %.1f us\n", smallWrite);
    benchRow("document read (FromXML)", read.first, read.second, "us", "<=2");
    benchRow("document write (ToXMLString)", write.first, write.second, "us", "<=2");
    return 0;
}
