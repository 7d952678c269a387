#include "qualitylevel.h"

#include "rangemessage.h"
#include "xmltext.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

QualityLevel::QualityLevel(QObject* parent)
    : BaseMaterialObject(parent)
{
}

QString QualityLevel::Name() const
{
    if (!m_name.isEmpty())
        return m_name;
    return QStringLiteral("(Dev) - %1").arg(m_thickness_um);
}

void QualityLevel::setName(const QString& name)
{
    m_name = xmlText(name);
    m_xmlFlags = SerializationFlags(m_xmlFlags | QualityLevelName);
    emit NameChanged();
}

void QualityLevel::setDisplayName(const QString& displayName)
{
    m_displayName = xmlText(displayName);
    m_xmlFlags = SerializationFlags(m_xmlFlags | QualityLevelDisplayName);
    emit DisplayNameChanged();
}

void QualityLevel::setThickness_um(const int& thickness)
{
    m_thickness_um = thickness;
    emit Thickness_umChanged();
}

void QualityLevel::setXmlFlags(const SerializationFlags& flags) { m_xmlFlags = flags; }

void QualityLevel::UpdateFlag(BaseMaterialObject::SharedSerializationFlags flag, bool enabled)
{
    BaseMaterialObject::UpdateFlag(flag, enabled);
}

void QualityLevel::ToXML(QXmlStreamWriter& writer)
{
    // The name attribute is always written, so it counts as present from now on.
    m_xmlFlags = SerializationFlags(m_xmlFlags | QualityLevelName);
    writer.writeStartElement(QStringLiteral("Quality"));
    writer.writeAttribute(QStringLiteral("Name"), Name());
    if (m_xmlFlags & QualityLevelDisplayName)
        writer.writeAttribute(QStringLiteral("DisplayName"), m_displayName);
    writer.writeAttribute(QStringLiteral("Thickness_um"), QString::number(m_thickness_um));
    BaseMaterialObject::ToXML(writer);
    writer.writeEndElement();
}

bool QualityLevel::FromXML(QXmlStreamReader& reader)
{
    if (!reader.isStartElement() && reader.name().isEmpty())
        reader.readNextStartElement();
    if (!reader.isStartElement() || reader.name() != QLatin1String("Quality"))
        return false;

    const QXmlStreamAttributes attributes = reader.attributes();
    for (const QXmlStreamAttribute& attribute : attributes) {
        const QStringRef name = attribute.name();
        if (name == QLatin1String("Name"))
            setName(attribute.value().toString());
        else if (name == QLatin1String("DisplayName"))
            setDisplayName(attribute.value().toString());
        else if (name == QLatin1String("Thickness_um"))
            setThickness_um(attribute.value().toInt(nullptr, 10));
    }

    while (reader.readNextStartElement()) {
        if (!BaseMaterialObject::FromXML(reader))
            return false;
    }
    return true;
}

bool QualityLevel::Validate(bool includeBaseClass)
{
    QStringList messages;
    if (m_thickness_um < m_thicknessMinimum || m_thickness_um > m_thicknessMaximum)
        messages << rangeMessage(QStringLiteral("Thickness (um)"), QString::number(m_thicknessMinimum),
            QString::number(m_thicknessMaximum));
    if (includeBaseClass) {
        BaseMaterialObject::Validate(includeBaseClass);
        messages << ValidationErrorMessage();
    }
    setValidationErrorMessage(messages);
    return messages.isEmpty();
}
