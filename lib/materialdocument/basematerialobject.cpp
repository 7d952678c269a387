#include "basematerialobject.h"

#include "rangemessage.h"

#include <QDebug>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>

namespace {

using Parameter = BaseMaterialObject::Parameter;

Parameter makeParameter(double BaseMaterialObject::*value, const char* property, const char* name,
    BaseMaterialObject::SharedSerializationFlags bit, double initial, double minimum, double maximum,
    const char* element, const char* otherElement, char format, int precision, const char* label,
    void (BaseMaterialObject::*changed)())
{
    return { false, property, QString::fromLatin1(name), QString::fromLatin1(element),
        QString::fromLatin1(otherElement), bit, initial, minimum, maximum, format, precision,
        QString::fromLatin1(label), value, nullptr, changed };
}

Parameter makeParameter(bool BaseMaterialObject::*value, const char* property, const char* name,
    BaseMaterialObject::SharedSerializationFlags bit, bool initial, double, double, const char* element,
    const char* otherElement, char, int, const char*, void (BaseMaterialObject::*changed)())
{
    return { true, property, QString::fromLatin1(name), QString::fromLatin1(element),
        QString::fromLatin1(otherElement), bit, initial ? 1.0 : 0.0, 0, 0, 0, 0, QString(), nullptr, value,
        changed };
}

// The scaling factors are written with fixed decimals, and so are their limits.
QString limitText(const Parameter& parameter, double limit)
{
    return parameter.format == 'f' ? QString::number(limit, 'f', 12) : QString::number(limit, 'g', 6);
}

const QString kTrue = QStringLiteral("true");
const QString kFalse = QStringLiteral("false");
const QString kCycleSettings = QStringLiteral("CycleSettings");

} // namespace

const BaseMaterialObject::Parameter* BaseMaterialObject::parameters()
{
#define GELV_SHARED_ROW(                                                                                     \
    type, Name, qmlName, initial, minimum, maximum, element, otherElement, format, precision, label)         \
    makeParameter(&BaseMaterialObject::m_##Name, #qmlName, #Name, BaseMaterialObject##Name, initial,         \
        minimum, maximum, element, otherElement, format, precision, label,                                   \
        &BaseMaterialObject::Name##Changed),
    static const Parameter table[] = { GELV_SHARED_PARAMETERS(GELV_SHARED_ROW) };
#undef GELV_SHARED_ROW
    static_assert(sizeof(table) / sizeof(table[0]) == parameterCount, "parameter table and count disagree");
    return table;
}

BaseMaterialObject::BaseMaterialObject(QObject* parent)
    : QObject(parent)
{
}

#define GELV_SHARED_SETTER(type, Name, ...)                                                                  \
    void BaseMaterialObject::set##Name(type value) { _setParameter(Parameter_##Name, value); }
GELV_SHARED_PARAMETERS(GELV_SHARED_SETTER)
#undef GELV_SHARED_SETTER

void BaseMaterialObject::_setParameter(ParameterIndex index, double value)
{
    const Parameter& parameter = parameters()[index];
    if (std::isnan(value)) {
        // A cleared exposure must not pass validation unnoticed.
        if (index == Parameter_Exposure)
            m_Exposure = parameter.minimum - 0.1;
        m_sharedXmlFlags = SharedSerializationFlags(m_sharedXmlFlags & ~parameter.bit);
        emit SharedXmlFlagsChanged();
        return;
    }
    this->*parameter.number = value;
    m_sharedXmlFlags = SharedSerializationFlags(m_sharedXmlFlags | parameter.bit);
    emit SharedXmlFlagsChanged();
    (this->*parameter.changed)();
}

void BaseMaterialObject::_setParameter(ParameterIndex index, bool value)
{
    const Parameter& parameter = parameters()[index];
    this->*parameter.flag = value;
    m_sharedXmlFlags = SharedSerializationFlags(m_sharedXmlFlags | parameter.bit);
    emit SharedXmlFlagsChanged();
    (this->*parameter.changed)();
}

void BaseMaterialObject::setValidationErrorMessage(QStringList messages)
{
    m_validationErrorMessage = std::move(messages);
    emit ValidationErrorMessageChanged();
}

void BaseMaterialObject::setSharedXmlFlags(const SharedSerializationFlags& flags)
{
    m_sharedXmlFlags = flags;
    emit SharedXmlFlagsChanged();
}

void BaseMaterialObject::UpdateFlag(SharedSerializationFlags flag, bool enabled)
{
    setSharedXmlFlags(
        SharedSerializationFlags(enabled ? (m_sharedXmlFlags | flag) : (m_sharedXmlFlags & ~flag)));
}

void BaseMaterialObject::ToXML(QXmlStreamWriter& writer)
{
    const Parameter* table = parameters();
    for (int i = 0; i < parameterCount; ++i) {
        const Parameter& parameter = table[i];
        if (!(m_sharedXmlFlags & parameter.bit))
            continue;
        if (parameter.isSwitch)
            writer.writeTextElement(parameter.element, this->*parameter.flag ? kTrue : kFalse);
        else
            writer.writeTextElement(parameter.element,
                QString::number(this->*parameter.number, parameter.format, parameter.precision));
    }
    if (m_cycleSettings.valuesToWrite()) {
        writer.writeStartElement(kCycleSettings);
        m_cycleSettings.ToXML(writer);
        writer.writeEndElement();
    }
}

bool BaseMaterialObject::FromXML(QXmlStreamReader& reader)
{
    const QStringRef name = reader.name();
    const Parameter* table = parameters();
    for (int i = 0; i < parameterCount; ++i) {
        const Parameter& parameter = table[i];
        if (name != parameter.element && (parameter.otherElement.isEmpty() || name != parameter.otherElement))
            continue;
        const QString text = reader.readElementText();
        if (!parameter.isSwitch) {
            _setParameter(ParameterIndex(i), text.toDouble());
        } else {
            const QString word = text.toLower();
            if (word == kTrue)
                _setParameter(ParameterIndex(i), true);
            else if (word == kFalse)
                _setParameter(ParameterIndex(i), false);
        }
        return true;
    }
    if (name == kCycleSettings)
        return reader.isStartElement() && m_cycleSettings.FromXML(reader);

    qDebug() << "Skipping element" << name.toString();
    reader.skipCurrentElement();
    return true;
}

bool BaseMaterialObject::Validate(bool includeBaseClass)
{
    Q_UNUSED(includeBaseClass)
    QStringList messages;
    const Parameter* table = parameters();
    for (int i = 0; i < parameterCount; ++i) {
        const Parameter& parameter = table[i];
        if (parameter.isSwitch)
            continue;
        const double value = this->*parameter.number;
        if (parameter.minimum > value || value > parameter.maximum)
            messages << rangeMessage(parameter.label, limitText(parameter, parameter.minimum),
                limitText(parameter, parameter.maximum));
    }
    setValidationErrorMessage(messages);
    return m_validationErrorMessage.isEmpty();
}
