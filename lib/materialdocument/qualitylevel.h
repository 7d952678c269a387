#pragma once

#include "basematerialobject.h"

#include <QString>

// One layer thickness of a machine, with its own copy of the shared
// parameters. The thickness attribute is always written.
class QualityLevel : public BaseMaterialObject {
    Q_OBJECT
    // Reads through Name(), so it is never empty.
    Q_PROPERTY(QString name READ Name WRITE setName NOTIFY NameChanged)
    Q_PROPERTY(QString displayName READ DisplayName WRITE setDisplayName NOTIFY DisplayNameChanged)
    Q_PROPERTY(int thickness_um READ Thickness_um WRITE setThickness_um NOTIFY Thickness_umChanged)
    // Nothing emits xmlFlagsChanged (lower-case x, unlike the other classes).
    Q_PROPERTY(SerializationFlags xmlFlags READ XmlFlags WRITE setXmlFlags NOTIFY xmlFlagsChanged)

public:
    enum SerializationFlags : int {
        QualityLevelName = 1,
        QualityLevelDisplayName = 2,
    };
    Q_ENUM(SerializationFlags)

    explicit QualityLevel(QObject* parent = nullptr);

    // Writes a Quality element; marks the name present as a side effect.
    void ToXML(QXmlStreamWriter& writer) override;
    bool FromXML(QXmlStreamReader& reader) override;
    // Checks the thickness; with includeBaseClass also the shared parameters.
    Q_INVOKABLE bool Validate(bool includeBaseClass = false) override;
    Q_INVOKABLE void UpdateFlag(BaseMaterialObject::SharedSerializationFlags flag, bool enabled) override;

    // The stored name, or "(Dev) - <thickness>" while it is empty.
    QString Name() const;
    void setName(const QString& name);
    QString DisplayName() const { return m_displayName; }
    void setDisplayName(const QString& displayName);
    // Micrometres.
    int Thickness_um() const { return m_thickness_um; }
    void setThickness_um(const int& thickness);
    SerializationFlags XmlFlags() const { return m_xmlFlags; }
    void setXmlFlags(const SerializationFlags& flags);

signals:
    void NameChanged();
    void DisplayNameChanged();
    void Thickness_umChanged();
    void xmlFlagsChanged();

private:
    int m_thicknessMinimum = 10;
    int m_thicknessMaximum = 300;
    QString m_name;
    QString m_displayName;
    int m_thickness_um = 30;
    SerializationFlags m_xmlFlags = SerializationFlags(0);
};
