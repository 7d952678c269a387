#pragma once

#include "cyclesetting.h"
#include "imaterialobject.h"
#include "sharedparameters.h"

#include <QObject>
#include <QStringList>

#define GELV_SHARED_PROPERTY(type, Name, qmlName, ...)                                                       \
    Q_PROPERTY(type qmlName READ Name WRITE set##Name NOTIFY Name##Changed)
#define GELV_SHARED_ACCESSORS(type, Name, ...)                                                               \
    type Name() const { return m_##Name; }                                                                   \
    void set##Name(type value);
#define GELV_SHARED_SIGNAL(type, Name, ...) void Name##Changed();
#define GELV_SHARED_MEMBER(type, Name, qmlName, initial, ...) type m_##Name = initial;
#define GELV_SHARED_INDEX(type, Name, ...) Parameter_##Name,

// The 28 material parameters that the document, every machine and every
// quality level carry (see sharedparameters.h), their present bits, the
// embedded cycle setting, and their XML block and range check.
//
// Setters never check ranges and always emit. A numeric setter given NaN
// clears the present bit and keeps the value (Exposure alone drops to 0, so
// that a cleared exposure fails validation).
class BaseMaterialObject : public QObject, public IMaterialObject {
    Q_OBJECT
    Q_INTERFACES(IMaterialObject)
    // The same object for the holder's whole life.
    Q_PROPERTY(CycleSetting* cycleSettings READ CycleSettings CONSTANT)
    GELV_SHARED_PARAMETERS(GELV_SHARED_PROPERTY)
    Q_PROPERTY(QStringList validationErrorMessage READ ValidationErrorMessage WRITE setValidationErrorMessage
            NOTIFY ValidationErrorMessageChanged)
    Q_PROPERTY(SharedSerializationFlags sharedXmlFlags READ SharedXmlFlags WRITE setSharedXmlFlags NOTIFY
            SharedXmlFlagsChanged)

public:
    // Present bits. FoundationExposure has the highest bit although its
    // field sits between AttachDepth and InhibitedLayer_mm.
    enum SharedSerializationFlags : int {
        BaseMaterialObjectTimeMultiplier = 0x1,
        BaseMaterialObjectModel_Dose_MJcm3 = 0x2,
        BaseMaterialObjectModel_Dose_Const = 0x4,
        BaseMaterialObjectDp = 0x8,
        BaseMaterialObjectIy_um = 0x10,
        BaseMaterialObjectOc_um = 0x20,
        BaseMaterialObjectXYBleed_mm = 0x40,
        BaseMaterialObjectZBleedDepth_mm = 0x80,
        BaseMaterialObjectXYTrim_mm = 0x100,
        BaseMaterialObjectZShrinkageFactor = 0x200,
        BaseMaterialObjectXYShrinkageFactor = 0x400,
        BaseMaterialObjectOverHangFactor = 0x800,
        BaseMaterialObjectOverExposureFactor = 0x1000,
        BaseMaterialObjectTestingOC = 0x2000,
        BaseMaterialObjectTestingRC = 0x4000,
        BaseMaterialObjectTestingTrim = 0x8000,
        BaseMaterialObjectRaiseAccelLimit = 0x10000,
        BaseMaterialObjectLowerDecelLimit = 0x20000,
        BaseMaterialObjectUsePrinterXYScaling = 0x40000,
        BaseMaterialObjectRC_Factor = 0x80000,
        BaseMaterialObjectExposure = 0x100000,
        BaseMaterialObjectBaseExposureTimeOverride_ms = 0x200000,
        BaseMaterialObjectAttachDepth = 0x400000,
        BaseMaterialObjectInhibitedLayer_mm = 0x800000,
        BaseMaterialObjectUseOrigMethod = 0x1000000,
        BaseMaterialObjectMaterialScalingFactorX = 0x2000000,
        BaseMaterialObjectMaterialScalingFactorY = 0x4000000,
        BaseMaterialObjectFoundationExposure = 0x8000000,
    };
    Q_ENUM(SharedSerializationFlags)

    // One row of the parameter table, in field order.
    struct Parameter {
        bool isSwitch;
        const char* property; // QML property name
        QString name;
        QString element; // as written
        QString otherElement; // also read; empty when there is none
        SharedSerializationFlags bit;
        double initial;
        double minimum;
        double maximum;
        char format;
        int precision;
        QString label;
        double BaseMaterialObject::*number;
        bool BaseMaterialObject::*flag;
        void (BaseMaterialObject::*changed)();
    };
    static const Parameter* parameters();
    static constexpr int parameterCount = 28;

    explicit BaseMaterialObject(QObject* parent = nullptr);

    // Writes the shared block into the element the caller has open.
    void ToXML(QXmlStreamWriter& writer) override;
    // Reads the one element the reader stands on; unknown ones are skipped.
    // False only when the CycleSettings reader fails.
    bool FromXML(QXmlStreamReader& reader) override;
    // Range check of the 23 numeric parameters; the argument is ignored here.
    Q_INVOKABLE bool Validate(bool includeBaseClass = false) override;
    // Sets or clears the bits of flag without touching the values. Not
    // invokable here: QML calls the overrides of the document, machine and
    // quality level.
    virtual void UpdateFlag(BaseMaterialObject::SharedSerializationFlags flag, bool enabled);

    CycleSetting* CycleSettings() { return &m_cycleSettings; }

    GELV_SHARED_PARAMETERS(GELV_SHARED_ACCESSORS)

    QStringList ValidationErrorMessage() const { return m_validationErrorMessage; }
    void setValidationErrorMessage(QStringList messages);
    SharedSerializationFlags SharedXmlFlags() const { return m_sharedXmlFlags; }
    void setSharedXmlFlags(const SharedSerializationFlags& flags);

signals:
    GELV_SHARED_PARAMETERS_MAIN(GELV_SHARED_SIGNAL)
    void ValidationErrorMessageChanged();
    GELV_SHARED_PARAMETERS_SCALING(GELV_SHARED_SIGNAL)
    void SharedXmlFlagsChanged();

private:
    enum ParameterIndex { GELV_SHARED_PARAMETERS(GELV_SHARED_INDEX) Parameter_Count };

    void _setParameter(ParameterIndex index, double value);
    void _setParameter(ParameterIndex index, bool value);

    CycleSetting m_cycleSettings;
    GELV_SHARED_PARAMETERS_MAIN(GELV_SHARED_MEMBER)
    QStringList m_validationErrorMessage;
    GELV_SHARED_PARAMETERS_SCALING(GELV_SHARED_MEMBER)
    SharedSerializationFlags m_sharedXmlFlags = SharedSerializationFlags(0);
};
