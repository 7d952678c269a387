#include "machine.h"
#include "ownedlist.h"
#include "xmltext.h"

#include <QDebug>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

const QString Machine::kOrvo_A = QStringLiteral("ORV_2.0_AA");
const QString Machine::kOrvo_B = QStringLiteral("ORV_2.0_BB");
const QString Machine::kTesk = QStringLiteral("ORV_2.0_TT");
const QString Machine::kUnknownMachine = QStringLiteral("Unknown Machine");

Machine::Machine(QObject* parent)
    : BaseMaterialObject(parent)
{
    setUseOrigMethod(false);
}

QString Machine::machineModelNameToString(MachineModelNames modelName) const
{
    switch (modelName) {
    case ORVO_A:
        return kOrvo_A;
    case ORVO_B:
        return kOrvo_B;
    case TESK:
        return kTesk;
    default:
        return kUnknownMachine;
    }
}

Machine::MachineModelNames Machine::machineModelNameFromString(QString modelName) const
{
    if (modelName == kOrvo_A)
        return ORVO_A;
    if (modelName == kOrvo_B)
        return ORVO_B;
    if (modelName == kTesk)
        return TESK;
    return Unknown;
}

void Machine::setModelName(MachineModelNames modelName)
{
    m_modelName = modelName;
    m_xmlFlags = SerializationFlags(m_xmlFlags | MachineModelName);
    emit XmlFlagsChanged();
    emit ModelNameChanged();
}

void Machine::setPreferredQuality(const QString& preferredQuality)
{
    m_preferredQuality = xmlText(preferredQuality);
    m_xmlFlags = SerializationFlags(m_xmlFlags | MachinePreferredQuality);
    emit XmlFlagsChanged();
    emit PreferredQualityChanged();
}

void Machine::setXmlFlags(const SerializationFlags& flags)
{
    m_xmlFlags = flags;
    emit XmlFlagsChanged();
}

bool Machine::Validate(bool includeBaseClass)
{
    if (includeBaseClass)
        BaseMaterialObject::Validate(includeBaseClass);
    return ValidationErrorMessage().isEmpty();
}

void Machine::UpdateFlag(BaseMaterialObject::SharedSerializationFlags flag, bool enabled)
{
    BaseMaterialObject::UpdateFlag(flag, enabled);
}

QQmlListProperty<QualityLevel> Machine::QualityLevels()
{
    return OwnedList::withoutEmulation(
        QQmlListProperty<QualityLevel>(this, this, &Machine::_appendQualityLevel,
            &Machine::_qualityLevelCount, &Machine::_qualityLevelAt, &Machine::_clearQualityLevels));
}

void Machine::_appendQualityLevel(QualityLevel* qualityLevel)
{
    OwnedList::append(this, m_qualityLevels, qualityLevel, &Machine::QualityLevelsChanged);
}

int Machine::_qualityLevelCount() const { return m_qualityLevels.size(); }

QualityLevel* Machine::_qualityLevelAt(int index) const { return OwnedList::at(m_qualityLevels, index); }

void Machine::_clearQualityLevels()
{
    OwnedList::clear(this, m_qualityLevels, &Machine::QualityLevelsChanged);
}

void Machine::_appendQualityLevel(QQmlListProperty<QualityLevel>* list, QualityLevel* qualityLevel)
{
    static_cast<Machine*>(list->data)->_appendQualityLevel(qualityLevel);
}

int Machine::_qualityLevelCount(QQmlListProperty<QualityLevel>* list)
{
    return static_cast<Machine*>(list->data)->_qualityLevelCount();
}

QualityLevel* Machine::_qualityLevelAt(QQmlListProperty<QualityLevel>* list, int index)
{
    return static_cast<Machine*>(list->data)->_qualityLevelAt(index);
}

void Machine::_clearQualityLevels(QQmlListProperty<QualityLevel>* list)
{
    auto* machine = static_cast<Machine*>(list->data);
    OwnedList::clearFromQml(machine, machine->m_qualityLevels, &Machine::QualityLevelsChanged);
}

void Machine::ToXML(QXmlStreamWriter& writer)
{
    writer.writeStartElement(QStringLiteral("Machine"));
    if (m_xmlFlags & MachineModelName)
        writer.writeAttribute(QStringLiteral("modelName"), machineModelNameToString(m_modelName));
    if (m_xmlFlags & MachinePreferredQuality)
        writeXmlTextElement(writer, QStringLiteral("PreferredQuality"), m_preferredQuality);
    BaseMaterialObject::ToXML(writer);
    if (!m_qualityLevels.isEmpty()) {
        writer.writeStartElement(QStringLiteral("QualityLevels"));
        for (QualityLevel* qualityLevel : qAsConst(m_qualityLevels))
            qualityLevel->ToXML(writer);
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

bool Machine::FromXML(QXmlStreamReader& reader)
{
    if (!reader.isStartElement() && reader.name().isEmpty())
        reader.readNextStartElement();
    if (!reader.isStartElement() || reader.name() != QLatin1String("Machine"))
        return false;

    const QXmlStreamAttributes attributes = reader.attributes();
    for (const QXmlStreamAttribute& attribute : attributes) {
        if (attribute.name() == QLatin1String("modelName"))
            setModelName(machineModelNameFromString(attribute.value().toString()));
    }

    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (name == QLatin1String("QualityLevels")) {
            if (!_readQualitiesFromXml(reader))
                return false;
        } else if (name == QLatin1String("PreferredQuality")) {
            setPreferredQuality(reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement));
        } else if (!BaseMaterialObject::FromXML(reader)) {
            return false;
        }
    }
    return true;
}

bool Machine::_readQualitiesFromXml(QXmlStreamReader& reader)
{
    if (!reader.isStartElement())
        return false;
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("Quality")) {
            // Skip it whole: descending into it would end the walk at its end tag.
            qDebug() << "Skipping element" << reader.name().toString();
            reader.skipCurrentElement();
            continue;
        }
        auto* qualityLevel = new QualityLevel(this);
        if (!qualityLevel->FromXML(reader)) {
            delete qualityLevel;
            return false;
        }
        _appendQualityLevel(qualityLevel);
    }
    return true;
}
