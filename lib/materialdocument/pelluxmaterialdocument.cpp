#include "pelluxmaterialdocument.h"
#include "documentfile.h"
#include "ownedlist.h"
#include "xmltext.h"

#include "rangemessage.h"

#include <QDebug>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <limits>

namespace {

const QString kRoot = QStringLiteral("ZqMaterial");
const QString kMachines = QStringLiteral("Machines");
const QString kMachine = QStringLiteral("Machine");
const QString kDescription = QStringLiteral("Description");
const QString kVersion = QStringLiteral("Version");
const QString kFriendlyName = QStringLiteral("FriendlyName");
const QString kFriendlyColorRed = QStringLiteral("FriendlyColorRed");
const QString kFriendlyColorGreen = QStringLiteral("FriendlyColorGreen");
const QString kFriendlyColorBlue = QStringLiteral("FriendlyColorBlue");
const QString kFriendlyColorHueF = QStringLiteral("FriendlyColorHueF");
const QString kFriendlyColorSatF = QStringLiteral("FriendlyColorSatF");
const QString kFriendlyColorLightnessF = QStringLiteral("FriendlyColorLightnessF");
const QString kPrevImageName = QStringLiteral("PrevImageName");
const QString kDistributedFlag = QStringLiteral("DistributedFlag");

// A component that does not fit in a short saturates, so that validation
// still sees it out of range instead of a wrapped or zero, valid-looking
// value. Other text that is no decimal integer reads as 0.
short colorComponent(const QString& text)
{
    bool ok = false;
    qlonglong value = text.toLongLong(&ok, 10);
    if (!ok) {
        const QString digits = text.trimmed();
        const int signs = digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+')) ? 1 : 0;
        const bool integer = digits.size() > signs
            && std::all_of(
                digits.begin() + signs, digits.end(), [](QChar c) { return c >= '0' && c <= '9'; });
        if (integer)
            value = digits.startsWith(QLatin1Char('-')) ? std::numeric_limits<qlonglong>::min()
                                                        : std::numeric_limits<qlonglong>::max();
    }
    return short(
        std::clamp<qlonglong>(value, std::numeric_limits<short>::min(), std::numeric_limits<short>::max()));
}

// Error texts go to dialogs and the log: a control character from the file
// (the reader quotes the one it stumbled on) is shown as its code.
QString printable(const QString& text)
{
    QString result;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            result += QStringLiteral("[U+%1]").arg(
                QString::number(c.unicode(), 16).toUpper(), 4, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

QString floatText(float value) { return QString::number(double(value), 'g', 6); }

} // namespace

PelluxMaterialDocument::PelluxMaterialDocument(QObject* parent)
    : BaseMaterialObject(parent)
{
}

void PelluxMaterialDocument::_setBit(SerializationFlags bit, bool present)
{
    m_xmlFlags = SerializationFlags(present ? (m_xmlFlags | bit) : (m_xmlFlags & ~bit));
}

template <typename T>
void PelluxMaterialDocument::_store(
    T& member, const T& value, SerializationFlags bit, void (PelluxMaterialDocument::*changed)())
{
    member = value;
    _setBit(bit, true);
    emit XmlFlagsChanged();
    emit(this->*changed)();
}

void PelluxMaterialDocument::setDescription(const QString& description)
{
    _store(m_description, xmlText(description), PelluxMaterialDocumentDescription,
        &PelluxMaterialDocument::DescriptionChanged);
}

void PelluxMaterialDocument::setVersion(const QString& version)
{
    _store(
        m_version, xmlText(version), PelluxMaterialDocumentVersion, &PelluxMaterialDocument::VersionChanged);
}

void PelluxMaterialDocument::setFriendlyName(const QString& friendlyName)
{
    _store(m_friendlyName, xmlText(friendlyName), PelluxMaterialDocumentFriendlyName,
        &PelluxMaterialDocument::FriendlyNameChanged);
}

void PelluxMaterialDocument::setFriendlyColorRed(short red)
{
    _store(m_friendlyColorRed, red, PelluxMaterialDocumentFriendlyColorRed,
        &PelluxMaterialDocument::FriendlyColorRedChanged);
}

void PelluxMaterialDocument::setFriendlyColorGreen(short green)
{
    _store(m_friendlyColorGreen, green, PelluxMaterialDocumentFriendlyColorGreen,
        &PelluxMaterialDocument::FriendlyColorGreenChanged);
}

void PelluxMaterialDocument::setFriendlyColorBlue(short blue)
{
    _store(m_friendlyColorBlue, blue, PelluxMaterialDocumentFriendlyColorBlue,
        &PelluxMaterialDocument::FriendlyColorBlueChanged);
}

void PelluxMaterialDocument::setFriendlyColorHueF(float hue)
{
    _store(m_friendlyColorHueF, hue, PelluxMaterialDocumentFriendlyColorHueF,
        &PelluxMaterialDocument::FriendlyColorHueFChanged);
}

void PelluxMaterialDocument::setFriendlyColorSatF(float saturation)
{
    _store(m_friendlyColorSatF, saturation, PelluxMaterialDocumentFriendlyColorSatF,
        &PelluxMaterialDocument::FriendlyColorSatFChanged);
}

void PelluxMaterialDocument::setFriendlyColorLightnessF(float lightness)
{
    _store(m_friendlyColorLightnessF, lightness, PelluxMaterialDocumentFriendlyColorLightnessF,
        &PelluxMaterialDocument::FriendlyColorLightnessFChanged);
}

void PelluxMaterialDocument::setPrevImageName(const QString& prevImageName)
{
    _store(m_prevImageName, xmlText(prevImageName), PelluxMaterialDocumentPrevImageName,
        &PelluxMaterialDocument::PrevImageNameChanged);
}

void PelluxMaterialDocument::setDistributedFlag(bool flag)
{
    m_distributedFlag = flag;
    if (!flag)
        qDebug() << "Distributed flag removed";
    _setBit(PelluxMaterialDocumentDistributedFlag, flag);
    emit XmlFlagsChanged();
    emit DistributedFlagChanged();
}

void PelluxMaterialDocument::setXmlFlags(const SerializationFlags& flags)
{
    m_xmlFlags = flags;
    emit XmlFlagsChanged();
}

void PelluxMaterialDocument::UpdateFlag(BaseMaterialObject::SharedSerializationFlags flag, bool enabled)
{
    BaseMaterialObject::UpdateFlag(flag, enabled);
}

QQmlListProperty<Machine> PelluxMaterialDocument::Machines()
{
    return OwnedList::withoutEmulation(QQmlListProperty<Machine>(this, this,
        &PelluxMaterialDocument::_appendMachine, &PelluxMaterialDocument::_machineCount,
        &PelluxMaterialDocument::_machineAt, &PelluxMaterialDocument::_clearMachines));
}

void PelluxMaterialDocument::_appendMachine(Machine* machine)
{
    OwnedList::append(this, m_machines, machine, &PelluxMaterialDocument::MachinesChanged);
}

int PelluxMaterialDocument::_machineCount() const { return m_machines.size(); }

Machine* PelluxMaterialDocument::_machineAt(int index) const { return OwnedList::at(m_machines, index); }

void PelluxMaterialDocument::_clearMachines()
{
    OwnedList::clear(this, m_machines, &PelluxMaterialDocument::MachinesChanged);
}

void PelluxMaterialDocument::_appendMachine(QQmlListProperty<Machine>* list, Machine* machine)
{
    static_cast<PelluxMaterialDocument*>(list->data)->_appendMachine(machine);
}

int PelluxMaterialDocument::_machineCount(QQmlListProperty<Machine>* list)
{
    return static_cast<PelluxMaterialDocument*>(list->data)->_machineCount();
}

Machine* PelluxMaterialDocument::_machineAt(QQmlListProperty<Machine>* list, int index)
{
    return static_cast<PelluxMaterialDocument*>(list->data)->_machineAt(index);
}

void PelluxMaterialDocument::_clearMachines(QQmlListProperty<Machine>* list)
{
    auto* document = static_cast<PelluxMaterialDocument*>(list->data);
    OwnedList::clearFromQml(document, document->m_machines, &PelluxMaterialDocument::MachinesChanged);
}

void PelluxMaterialDocument::ToXML(QXmlStreamWriter& writer)
{
    writer.setAutoFormatting(true);
    writer.writeStartElement(kRoot);
    if (m_xmlFlags & PelluxMaterialDocumentDescription)
        writeXmlTextElement(writer, kDescription, m_description);
    if (m_xmlFlags & PelluxMaterialDocumentVersion)
        writeXmlTextElement(writer, kVersion, m_version);
    if (m_xmlFlags & PelluxMaterialDocumentFriendlyName)
        writeXmlTextElement(writer, kFriendlyName, m_friendlyName);
    if (m_xmlFlags & PelluxMaterialDocumentFriendlyColorRed)
        writer.writeTextElement(kFriendlyColorRed, QString::number(m_friendlyColorRed, 10));
    if (m_xmlFlags & PelluxMaterialDocumentFriendlyColorGreen)
        writer.writeTextElement(kFriendlyColorGreen, QString::number(m_friendlyColorGreen, 10));
    if (m_xmlFlags & PelluxMaterialDocumentFriendlyColorBlue)
        writer.writeTextElement(kFriendlyColorBlue, QString::number(m_friendlyColorBlue, 10));
    if (m_xmlFlags & PelluxMaterialDocumentFriendlyColorHueF)
        writer.writeTextElement(kFriendlyColorHueF, floatText(m_friendlyColorHueF));
    if (m_xmlFlags & PelluxMaterialDocumentFriendlyColorSatF)
        writer.writeTextElement(kFriendlyColorSatF, floatText(m_friendlyColorSatF));
    if (m_xmlFlags & PelluxMaterialDocumentFriendlyColorLightnessF)
        writer.writeTextElement(kFriendlyColorLightnessF, floatText(m_friendlyColorLightnessF));
    if (m_xmlFlags & PelluxMaterialDocumentPrevImageName)
        writeXmlTextElement(writer, kPrevImageName, m_prevImageName);
    if (m_xmlFlags & PelluxMaterialDocumentDistributedFlag)
        writer.writeTextElement(
            kDistributedFlag, m_distributedFlag ? QStringLiteral("true") : QStringLiteral("false"));

    BaseMaterialObject::ToXML(writer);

    if (!m_machines.isEmpty()) {
        writer.writeStartElement(kMachines);
        for (Machine* machine : qAsConst(m_machines))
            machine->ToXML(writer);
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

bool PelluxMaterialDocument::FromXML(QXmlStreamReader& reader)
{
    if (!reader.isStartElement())
        reader.readNextStartElement();
    if (!reader.isStartElement() || reader.name() != kRoot)
        return false;

    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        const auto text
            = [&reader] { return reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement); };
        if (name == kDescription) {
            setDescription(text());
        } else if (name == kVersion) {
            setVersion(text());
        } else if (name == kFriendlyName) {
            setFriendlyName(text());
        } else if (name == kPrevImageName) {
            setPrevImageName(text());
        } else if (name == kFriendlyColorRed) {
            setFriendlyColorRed(colorComponent(text()));
        } else if (name == kFriendlyColorGreen) {
            setFriendlyColorGreen(colorComponent(text()));
        } else if (name == kFriendlyColorBlue) {
            setFriendlyColorBlue(colorComponent(text()));
        } else if (name == kFriendlyColorHueF) {
            setFriendlyColorHueF(text().toFloat());
        } else if (name == kFriendlyColorSatF) {
            setFriendlyColorSatF(text().toFloat());
        } else if (name == kFriendlyColorLightnessF) {
            setFriendlyColorLightnessF(text().toFloat());
        } else if (name == kDistributedFlag) {
            const QString word = text().toLower();
            if (word == QLatin1String("true"))
                setDistributedFlag(true);
            else if (word == QLatin1String("false"))
                setDistributedFlag(false);
        } else if (name == kMachines) {
            if (!_readMachinesFromXml(reader))
                return false;
        } else if (!BaseMaterialObject::FromXML(reader)) {
            return false;
        }
    }
    return true;
}

bool PelluxMaterialDocument::_readMachinesFromXml(QXmlStreamReader& reader)
{
    while (reader.readNextStartElement()) {
        if (reader.name() != kMachine) {
            // Skip it whole: descending into it would end the walk at its end tag.
            qDebug() << "Skipping element" << reader.name().toString();
            reader.skipCurrentElement();
            continue;
        }
        auto* machine = new Machine(this);
        if (!machine->FromXML(reader)) {
            delete machine;
            return false;
        }
        _appendMachine(machine);
    }
    return true;
}

QString PelluxMaterialDocument::ToXMLString()
{
    QString text;
    QXmlStreamWriter writer(&text);
    writer.setAutoFormatting(true);
    ToXML(writer);
    return text;
}

void PelluxMaterialDocument::_setOutcome(const QString& error)
{
    m_hasError = !error.isEmpty();
    m_errorString = printable(error);
}

void PelluxMaterialDocument::readFromPath(QString path)
{
    // The whole text is read and looked over first, within bounds, so that a
    // hostile file is refused before it can drive the parser into its worst cases.
    QString text;
    QString error;
    if (!DocumentFile::read(path, text, error))
        return _setOutcome(error);
    error = DocumentFile::screen(text);
    if (!error.isEmpty())
        return _setOutcome(error);
    QXmlStreamReader reader(text);
    text.clear();
    if (!FromXML(reader))
        return _setOutcome(QStringLiteral("Failed to parse ZqMat document."));
    // Only comments and white space may follow the root element.
    while (!reader.atEnd())
        reader.readNext();
    _setOutcome(reader.hasError() ? reader.errorString() : QString());
}

void PelluxMaterialDocument::writeToPath(QString path)
{
    const QString refusal = DocumentFile::saveRefusal(path);
    if (!refusal.isEmpty())
        return _setOutcome(refusal);
    // Written to a temporary file that replaces the old one only when
    // everything went out without error. A writable file in a folder the user
    // may not create files in is written in place instead.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return _setOutcome(file.errorString());
    QXmlStreamWriter writer(&file);
    writer.setAutoFormatting(true);
    ToXML(writer);
    // The last buffered part is written by flush(): commit() alone reports
    // success when only that part fails (a full disk), leaving a cut-off file.
    // Uncommitted, the temporary file is discarded and the old one stays.
    const bool written = !writer.hasError() && file.flush() && file.commit();
    _setOutcome(written
            ? QString()
            : QStringLiteral("PelluxMaterialDocument::writeToPath:QXmlStreamWriter failed to write to file"));
}

bool PelluxMaterialDocument::Validate(bool includeBaseClass)
{
    QStringList messages;
    if (m_version.isEmpty())
        messages << QStringLiteral("Version is required.");

    if (m_friendlyName.isEmpty())
        messages << QStringLiteral("Name is required.");
    else if (m_friendlyName.startsWith(QLatin1Char('.')))
        messages << QStringLiteral("Name cannot start with \".\".");
    else if (m_friendlyName.startsWith(QLatin1Char('\\')))
        messages << QStringLiteral("Name cannot start with \"\\\".");

    if (m_friendlyColorRed == -1 && m_friendlyColorGreen == -1 && m_friendlyColorBlue == -1) {
        messages << QStringLiteral("Please choose a Color.");
    } else {
        const auto checkComponent
            = [&messages](short value, short minimum, short maximum, const char* label) {
                  if (value < minimum || value > maximum)
                      messages << rangeMessage(
                          QString::fromLatin1(label), QString::number(minimum), QString::number(maximum));
              };
        checkComponent(m_friendlyColorRed, m_redMinimum, m_redMaximum, "Color Red");
        checkComponent(m_friendlyColorGreen, m_greenMinimum, m_greenMaximum, "Color Green");
        checkComponent(m_friendlyColorBlue, m_blueMinimum, m_blueMaximum, "Color Blue");
    }

    // Written so that NaN fails: it would be saved and sent as "nan".
    const auto checkFloat = [&messages](float value, float minimum, float maximum, const char* label) {
        if (!(value >= minimum && value <= maximum))
            messages << rangeMessage(QString::fromLatin1(label), floatText(minimum), floatText(maximum));
    };
    checkFloat(m_friendlyColorHueF, m_hueMinimum, m_hueMaximum, "Color Hue F");
    checkFloat(m_friendlyColorSatF, m_saturationMinimum, m_saturationMaximum, "Color Sat F");

    if (includeBaseClass) {
        BaseMaterialObject::Validate(includeBaseClass);
        messages << ValidationErrorMessage();
    }
    setValidationErrorMessage(messages);
    return messages.isEmpty();
}
