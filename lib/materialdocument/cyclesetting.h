#pragma once

#include "imaterialobject.h"

#include <QObject>
#include <QStringList>

// The fifteen motion-cycle fields, in declaration, bit and XML order.
// X(type, Name, qmlName, initial, minimum, maximum, label)
// Name is the getter and the XML element; the setter is setName, the signal
// NameChanged and the present bit CycleSettingName. Switches have no range.
#define GELV_CYCLE_FIELDS(X)                                                                                 \
    X(double, Initial_Raise, initial_Raise, 1.2, 0.0, 10.0, "Initial Raise")                                 \
    X(int, Initial_Release, initial_Release, 4000, 0, 60000, "Initial Release")                              \
    X(int, Initial_Settle, initial_Settle, 14000, 0, 60000, "Initial Settle")                                \
    X(double, ReleaseRaise_Min_mm, releaseRaise_Min_mm, 0.8, 0.0, 10.0, "Release Raise Min (mm)")            \
    X(double, ReleaseRaise_Max_mm, releaseRaise_Max_mm, 1.2, 0.0, 10.0, "Release Raise Max (mm)")            \
    X(double, CoolRaise_Min_mm, coolRaise_Min_mm, 0.0, 0.0, 10.0, "Cool Raise Min (mm)")                     \
    X(double, CoolRaise_Max_mm, coolRaise_Max_mm, 0.0, 0.0, 10.0, "Cool Raise Max (mm)")                     \
    X(int, Kick_ms, kick_ms, 0, 0, 60000, "Kick (ms)")                                                       \
    X(int, ReleaseMin_ms, releaseMin_ms, 200, 0, 60000, "Release Min (ms)")                                  \
    X(int, Release_ms, release_ms, 1000, 0, 60000, "Release (ms)")                                           \
    X(int, Cool_ms, cool_ms, 0, 0, 60000, "Cool (ms)")                                                       \
    X(int, Bubble_ms, bubble_ms, 0, 0, 60000, "Bubble (ms)")                                                 \
    X(int, SettleMin_ms, settleMin_ms, 300, 0, 60000, "Settle Min (ms)")                                     \
    X(int, Settle_ms, settle_ms, 7000, 0, 60000, "Settle (ms)")                                              \
    X(bool, EnableBRM, enableBRM, false, 0, 0, nullptr)

#define GELV_CYCLE_PROPERTY(type, Name, qmlName, ...)                                                        \
    Q_PROPERTY(type qmlName READ Name WRITE set##Name NOTIFY Name##Changed)
#define GELV_CYCLE_ACCESSORS(type, Name, ...)                                                                \
    type Name() const { return m_##Name; }                                                                   \
    void set##Name(type value);
#define GELV_CYCLE_SIGNAL(type, Name, ...) void Name##Changed();
#define GELV_CYCLE_MEMBER(type, Name, qmlName, initial, ...) type m_##Name = initial;
#define GELV_CYCLE_INDEX(type, Name, ...) Field_##Name,

// Motion-cycle distances (mm) and durations (ms) of one material object.
// Every field has a present bit; only present fields are written. A NaN given
// to a double setter, or INT_MIN to an int setter, clears the bit instead.
class CycleSetting : public QObject, public IMaterialObject {
    Q_OBJECT
    Q_INTERFACES(IMaterialObject)
    GELV_CYCLE_FIELDS(GELV_CYCLE_PROPERTY)
    Q_PROPERTY(QStringList validationErrorMessage READ ValidationErrorMessage WRITE setValidationErrorMessage
            NOTIFY ValidationErrorMessageChanged)
    Q_PROPERTY(SerializationFlags xmlFlags READ XmlFlags WRITE setXmlFlags NOTIFY XmlFlagsChanged)

public:
    enum SerializationFlags : int {
        CycleSettingInitial_Raise = 0x1,
        CycleSettingInitial_Release = 0x2,
        CycleSettingInitial_Settle = 0x4,
        CycleSettingReleaseRaise_Min_mm = 0x8,
        CycleSettingReleaseRaise_Max_mm = 0x10,
        CycleSettingCoolRaise_Min_mm = 0x20,
        CycleSettingCoolRaise_Max_mm = 0x40,
        CycleSettingKick_ms = 0x80,
        CycleSettingReleaseMin_ms = 0x100,
        CycleSettingRelease_ms = 0x200,
        CycleSettingCool_ms = 0x400,
        CycleSettingBubble_ms = 0x800,
        CycleSettingSettleMin_ms = 0x1000,
        CycleSettingSettle_ms = 0x2000,
        CycleSettingEnableBRM = 0x4000,
    };
    Q_ENUM(SerializationFlags)

    // One row of the field table: drives the reader, writer and validation.
    struct Field {
        enum Kind { Double, Int, Switch };
        Kind kind;
        QString element;
        SerializationFlags bit;
        double minimum; // int limits are held exactly
        double maximum;
        QString label;
        double CycleSetting::*doubleValue;
        int CycleSetting::*intValue;
        bool CycleSetting::*switchValue;
        void (CycleSetting::*changed)();
    };
    static const Field* fields();
    static constexpr int fieldCount = 15;

    explicit CycleSetting(QObject* parent = nullptr);

    void ToXML(QXmlStreamWriter& writer) override;
    // Reads the children of the CycleSettings element the reader stands on.
    bool FromXML(QXmlStreamReader& reader) override;
    // Range check; the argument is not used.
    Q_INVOKABLE bool Validate(bool includeBaseClass = false) override;

    // Whether any field is present, i.e. whether the element is written.
    bool valuesToWrite() const;

    GELV_CYCLE_FIELDS(GELV_CYCLE_ACCESSORS)

    QStringList ValidationErrorMessage() const { return m_validationErrorMessage; }
    void setValidationErrorMessage(QStringList messages);
    SerializationFlags XmlFlags() const { return m_xmlFlags; }
    void setXmlFlags(const SerializationFlags& flags);

signals:
    GELV_CYCLE_FIELDS(GELV_CYCLE_SIGNAL)
    void XmlFlagsChanged();
    void ValidationErrorMessageChanged();

private:
    enum FieldIndex { GELV_CYCLE_FIELDS(GELV_CYCLE_INDEX) Field_Count };

    void _setField(FieldIndex index, double value);
    void _setField(FieldIndex index, int value);
    void _setField(FieldIndex index, bool value);
    void _setBit(SerializationFlags bit, bool present);

    GELV_CYCLE_FIELDS(GELV_CYCLE_MEMBER)
    QStringList m_validationErrorMessage;
    SerializationFlags m_xmlFlags = SerializationFlags(0);
};
