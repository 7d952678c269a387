#include "pelluxmaterialdocument.h"
#include "ownedlist.h"

#include "rangemessage.h"

#include <QDebug>
#include <QFile>
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
// still sees it out of range instead of a wrapped, valid-looking value.
short colorComponent(const QString& text)
{
    const qlonglong value = text.toLongLong(nullptr, 10);
    return short(
        std::clamp<qlonglong>(value, std::numeric_limits<short>::min(), std::numeric_limits<short>::max()));
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
void PelluxMaterialDocument::_store(T& member, const T& value, SerializationFlags bit, void (PelluxMaterialDocument::*changed)())
{
    member = value;
    _setBit(bit, true);
    emit XmlFlagsChanged();
    emit(this->*changed)();
}

void PelluxMaterialDocument::setDescription(const QString& description)
{
    _store(m_description, description, PelluxMaterialDocumentDescription, &PelluxMaterialDocument::DescriptionChanged);
}

void PelluxMaterialDocument::setVersion(const QString& version)
{
    _store(m_version, version, PelluxMaterialDocumentVersion, &PelluxMaterialDocument::VersionChanged);
}

void PelluxMaterialDocument::setFriendlyName(const QString& friendlyName)
{
    _store(m_friendlyName, friendlyName, PelluxMaterialDocumentFriendlyName, &PelluxMaterialDocument::FriendlyNameChanged);
}

void PelluxMaterialDocument::setFriendlyColorRed(short red)
{
    _store(m_friendlyColorRed, red, PelluxMaterialDocumentFriendlyColorRed, &PelluxMaterialDocument::FriendlyColorRedChanged);
}

void PelluxMaterialDocument::setFriendlyColorGreen(short green)
{
    _store(m_friendlyColorGreen, green, PelluxMaterialDocumentFriendlyColorGreen, &PelluxMaterialDocument::FriendlyColorGreenChanged);
}

void PelluxMaterialDocument::setFriendlyColorBlue(short blue)
{
    _store(m_friendlyColorBlue, blue, PelluxMaterialDocumentFriendlyColorBlue, &PelluxMaterialDocument::FriendlyColorBlueChanged);
}

void PelluxMaterialDocument::setFriendlyColorHueF(float hue)
{
    _store(m_friendlyColorHueF, hue, PelluxMaterialDocumentFriendlyColorHueF, &PelluxMaterialDocument::FriendlyColorHueFChanged);
}

void PelluxMaterialDocument::setFriendlyColorSatF(float saturation)
{
    _store(m_friendlyColorSatF, saturation, PelluxMaterialDocumentFriendlyColorSatF, &PelluxMaterialDocument::FriendlyColorSatFChanged);
}

void PelluxMaterialDocument::setFriendlyColorLightnessF(float lightness)
{
    _store(m_friendlyColorLightnessF, lightness, PelluxMaterialDocumentFriendlyColorLightnessF, &PelluxMaterialDocument::FriendlyColorLightnessFChanged);
}

void PelluxMaterialDocument::setPrevImageName(const QString& prevImageName)
{
    _store(m_prevImageName, prevImageName, PelluxMaterialDocumentPrevImageName, &PelluxMaterialDocument::PrevImageNameChanged);
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

QQmlListProperty<Machine> PelluxMaterialDocument::Machines()
{
    return OwnedList::property<Machine, PelluxMaterialDocument, &PelluxMaterialDocument::m_machines, &PelluxMaterialDocument::MachinesChanged>(this);
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

void PelluxMaterialDocument::ToXML(QXmlStreamWriter& writer)
{
    writer.setAutoFormatting(true);
    writer.writeStartElement(kRoot);
    if (m_xmlFlags & PelluxMaterialDocumentDescription)
        writer.writeTextElement(kDescription, m_description);
    if (m_xmlFlags & PelluxMaterialDocumentVersion)
        writer.writeTextElement(kVersion, m_version);
    if (m_xmlFlags & PelluxMaterialDocumentFriendlyName)
        writer.writeTextElement(kFriendlyName, m_friendlyName);
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
        writer.writeTextElement(kPrevImageName, m_prevImageName);
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

void PelluxMaterialDocument::readFromPath(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_hasError = true;
        m_errorString = file.errorString();
        return;
    }
    QXmlStreamReader reader(&file);
    const bool parsed = FromXML(reader);
    m_hasError = !parsed;
    file.close();
    if (!parsed) {
        m_errorString = QStringLiteral("Failed to parse ZqMat document.");
    } else if (reader.hasError()) {
        m_hasError = true;
        m_errorString = reader.errorString();
    }
}

void PelluxMaterialDocument::writeToPath(QString path)
{
    // Written to a temporary file that replaces the old one only when
    // everything went out without error.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_hasError = true;
        m_errorString = file.errorString();
        return;
    }
    m_hasError = false;
    QXmlStreamWriter writer(&file);
    writer.setAutoFormatting(true);
    ToXML(writer);
    // The last buffered part is written by flush(): commit() alone reports
    // success when only that part fails (a full disk), leaving a cut-off file.
    // Uncommitted, the temporary file is discarded and the old one stays.
    if (writer.hasError() || !file.flush() || !file.commit()) {
        m_hasError = true;
        m_errorString
            = QStringLiteral("PelluxMaterialDocument::writeToPath:QXmlStreamWriter failed to write to file");
    }
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

    // Written so that NaN passes, as the shared parameters do.
    const auto checkFloat = [&messages](float value, float minimum, float maximum, const char* label) {
        if (minimum > value || value > maximum)
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
