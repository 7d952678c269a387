#include "cyclesetting.h"

#include "rangemessage.h"

#include <QDebug>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <climits>
#include <cmath>

namespace {

using Field = CycleSetting::Field;

Field makeField(double CycleSetting::*value, const char* element, CycleSetting::SerializationFlags bit,
    double minimum, double maximum, const char* label, void (CycleSetting::*changed)())
{
    return { Field::Double, QString::fromLatin1(element), bit, minimum, maximum, QString::fromLatin1(label),
        value, nullptr, nullptr, changed };
}

Field makeField(int CycleSetting::*value, const char* element, CycleSetting::SerializationFlags bit,
    double minimum, double maximum, const char* label, void (CycleSetting::*changed)())
{
    return { Field::Int, QString::fromLatin1(element), bit, minimum, maximum, QString::fromLatin1(label),
        nullptr, value, nullptr, changed };
}

Field makeField(bool CycleSetting::*value, const char* element, CycleSetting::SerializationFlags bit, double,
    double, const char*, void (CycleSetting::*changed)())
{
    return { Field::Switch, QString::fromLatin1(element), bit, 0, 0, QString(), nullptr, nullptr, value,
        changed };
}

// INT_MIN stands for "no value"; anything that is no int maps to it.
int toIntOrSentinel(double value)
{
    if (!std::isfinite(value))
        return INT_MIN;
    const double truncated = std::trunc(value);
    if (truncated < double(INT_MIN) || truncated > double(INT_MAX))
        return INT_MIN;
    return int(truncated);
}

const QString kTrue = QStringLiteral("true");
const QString kFalse = QStringLiteral("false");

} // namespace

const CycleSetting::Field* CycleSetting::fields()
{
#define GELV_CYCLE_ROW(type, Name, qmlName, initial, minimum, maximum, label)                                \
    makeField(&CycleSetting::m_##Name, #Name, CycleSetting##Name, minimum, maximum, label,                   \
        &CycleSetting::Name##Changed),
    static const Field table[] = { GELV_CYCLE_FIELDS(GELV_CYCLE_ROW) };
#undef GELV_CYCLE_ROW
    static_assert(sizeof(table) / sizeof(table[0]) == fieldCount, "field table and count disagree");
    return table;
}

CycleSetting::CycleSetting(QObject* parent)
    : QObject(parent)
{
}

#define GELV_CYCLE_SETTER(type, Name, ...)                                                                   \
    void CycleSetting::set##Name(type value) { _setField(Field_##Name, value); }
GELV_CYCLE_FIELDS(GELV_CYCLE_SETTER)
#undef GELV_CYCLE_SETTER

void CycleSetting::_setBit(SerializationFlags bit, bool present)
{
    m_xmlFlags = SerializationFlags(present ? (m_xmlFlags | bit) : (m_xmlFlags & ~bit));
}

void CycleSetting::_setField(FieldIndex index, double value)
{
    const Field& field = fields()[index];
    if (std::isnan(value)) {
        _setBit(field.bit, false);
        emit XmlFlagsChanged();
        return;
    }
    this->*field.doubleValue = value;
    _setBit(field.bit, true);
    emit XmlFlagsChanged();
    (this->*field.changed)();
}

void CycleSetting::_setField(FieldIndex index, int value)
{
    const Field& field = fields()[index];
    if (value == INT_MIN) {
        _setBit(field.bit, false);
        emit XmlFlagsChanged();
        return;
    }
    this->*field.intValue = value;
    _setBit(field.bit, true);
    emit XmlFlagsChanged();
    (this->*field.changed)();
}

void CycleSetting::_setField(FieldIndex index, bool value)
{
    const Field& field = fields()[index];
    this->*field.switchValue = value;
    _setBit(field.bit, true);
    emit XmlFlagsChanged();
    (this->*field.changed)();
}

void CycleSetting::setValidationErrorMessage(QStringList messages)
{
    m_validationErrorMessage = std::move(messages);
    emit ValidationErrorMessageChanged();
}

void CycleSetting::setXmlFlags(const SerializationFlags& flags)
{
    m_xmlFlags = flags;
    emit XmlFlagsChanged();
}

bool CycleSetting::valuesToWrite() const { return m_xmlFlags != 0; }

void CycleSetting::ToXML(QXmlStreamWriter& writer)
{
    const Field* table = fields();
    for (int i = 0; i < fieldCount; ++i) {
        const Field& field = table[i];
        if (!(m_xmlFlags & field.bit))
            continue;
        switch (field.kind) {
        case Field::Double:
            writer.writeTextElement(field.element, QString::number(this->*field.doubleValue, 'g', 6));
            break;
        case Field::Int:
            writer.writeTextElement(field.element, QString::number(this->*field.intValue, 10));
            break;
        case Field::Switch:
            writer.writeTextElement(field.element, this->*field.switchValue ? kTrue : kFalse);
            break;
        }
    }
}

bool CycleSetting::FromXML(QXmlStreamReader& reader)
{
    const Field* table = fields();
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        int index = 0;
        while (index < fieldCount && name != table[index].element)
            ++index;
        if (index == fieldCount) {
            qDebug() << "Skipping element" << name.toString();
            reader.skipCurrentElement();
            continue;
        }
        const FieldIndex fieldIndex = FieldIndex(index);
        const QString text = reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        switch (table[index].kind) {
        case Field::Double:
            _setField(fieldIndex, text.toDouble());
            break;
        case Field::Int:
            _setField(fieldIndex, toIntOrSentinel(text.toDouble()));
            break;
        case Field::Switch: {
            const QString word = text.toLower();
            if (word == kTrue)
                _setField(fieldIndex, true);
            else if (word == kFalse)
                _setField(fieldIndex, false);
            break;
        }
        }
    }
    return true;
}

bool CycleSetting::Validate(bool includeBaseClass)
{
    Q_UNUSED(includeBaseClass)
    QStringList messages;
    const Field* table = fields();
    for (int i = 0; i < fieldCount; ++i) {
        const Field& field = table[i];
        if (field.kind == Field::Double) {
            const double value = this->*field.doubleValue;
            if (field.minimum > value || value > field.maximum)
                messages << rangeMessage(field.label, QString::number(field.minimum, 'g', 6),
                    QString::number(field.maximum, 'g', 6));
        } else if (field.kind == Field::Int) {
            const int value = this->*field.intValue;
            const int minimum = int(field.minimum);
            const int maximum = int(field.maximum);
            if (value < minimum || value > maximum)
                messages << rangeMessage(field.label, QString::number(minimum), QString::number(maximum));
        }
    }
    setValidationErrorMessage(messages);
    return m_validationErrorMessage.isEmpty();
}
