#pragma once

#include "basematerialobject.h"
#include "qualitylevel.h"

#include <QList>
#include <QQmlListProperty>
#include <QString>

// One printer model of a document, with its own shared parameters and its
// quality levels. The machine is the QObject parent of its quality levels.
class Machine : public BaseMaterialObject {
    Q_OBJECT
    Q_PROPERTY(QQmlListProperty<QualityLevel> qualityLevels READ QualityLevels NOTIFY QualityLevelsChanged)
    Q_PROPERTY(MachineModelNames modelName READ ModelName WRITE setModelName NOTIFY ModelNameChanged)
    Q_PROPERTY(QString preferredQuality READ PreferredQuality WRITE setPreferredQuality NOTIFY
            PreferredQualityChanged)
    Q_PROPERTY(SerializationFlags xmlFlags READ XmlFlags WRITE setXmlFlags NOTIFY XmlFlagsChanged)

public:
    enum MachineModelNames : int {
        ORVO_A = 0,
        ORVO_B = 1,
        TESK = 2,
        Unknown = 3,
    };
    Q_ENUM(MachineModelNames)

    enum SerializationFlags : int {
        MachineModelName = 1,
        MachinePreferredQuality = 2,
    };
    Q_ENUM(SerializationFlags)

    // Model strings as stored in documents.
    static const QString kOrvo_A; // "ORV_2.0_AA"
    static const QString kOrvo_B; // "ORV_2.0_BB"
    static const QString kTesk; // "ORV_2.0_TT"
    static const QString kUnknownMachine; // "Unknown Machine"

    // Starts as Unknown with the model bit clear, and with UseOrigMethod
    // false and present.
    explicit Machine(QObject* parent = nullptr);

    // Any value outside the table gives kUnknownMachine.
    Q_INVOKABLE QString machineModelNameToString(MachineModelNames modelName) const;
    // Exact, case-sensitive match; anything else gives Unknown.
    Q_INVOKABLE MachineModelNames machineModelNameFromString(QString modelName) const;

    void ToXML(QXmlStreamWriter& writer) override;
    bool FromXML(QXmlStreamReader& reader) override;
    // Without includeBaseClass nothing is checked: the result reflects the
    // messages the last check left.
    Q_INVOKABLE bool Validate(bool includeBaseClass = false) override;
    Q_INVOKABLE void UpdateFlag(BaseMaterialObject::SharedSerializationFlags flag, bool enabled) override;

    QQmlListProperty<QualityLevel> QualityLevels();
    MachineModelNames ModelName() const { return m_modelName; }
    void setModelName(MachineModelNames modelName);
    QString PreferredQuality() const { return m_preferredQuality; }
    void setPreferredQuality(const QString& preferredQuality);
    SerializationFlags XmlFlags() const { return m_xmlFlags; }
    void setXmlFlags(const SerializationFlags& flags);

    // The list operations for direct callers. Appending takes ownership and
    // ignores null; clearing deletes the quality levels at once.
    void _appendQualityLevel(QualityLevel* qualityLevel);
    int _qualityLevelCount() const;
    // nullptr when index is outside the list.
    QualityLevel* _qualityLevelAt(int index) const;
    void _clearQualityLevels();

    // The callbacks of the qualityLevels property. Its clear deletes the
    // quality levels on the next turn of the event loop, sparing those that
    // QML appends again meanwhile (a list assignment clears, then re-appends).
    static void _appendQualityLevel(QQmlListProperty<QualityLevel>* list, QualityLevel* qualityLevel);
    static int _qualityLevelCount(QQmlListProperty<QualityLevel>* list);
    static QualityLevel* _qualityLevelAt(QQmlListProperty<QualityLevel>* list, int index);
    static void _clearQualityLevels(QQmlListProperty<QualityLevel>* list);

signals:
    void ModelNameChanged();
    void PreferredQualityChanged();
    void QualityLevelsChanged();
    void XmlFlagsChanged();

private:
    bool _readQualitiesFromXml(QXmlStreamReader& reader);

    MachineModelNames m_modelName = Unknown;
    QString m_preferredQuality;
    QList<QualityLevel*> m_qualityLevels;
    SerializationFlags m_xmlFlags = SerializationFlags(0);
};
