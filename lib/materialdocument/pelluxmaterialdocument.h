#pragma once

#include "basematerialobject.h"
#include "machine.h"

#include <QList>
#include <QQmlListProperty>
#include <QString>

// The root of a material document: descriptive fields, the document's own
// shared parameters, and its machines (the document is their QObject parent).
// Reads and writes .zqmat files; the outcome of the last file operation is
// kept in hasError/errorString.
class PelluxMaterialDocument : public BaseMaterialObject {
    Q_OBJECT
    Q_PROPERTY(bool hasError READ HasError)
    Q_PROPERTY(QString errorString READ ErrorString)
    Q_PROPERTY(QString description READ Description WRITE setDescription NOTIFY DescriptionChanged)
    Q_PROPERTY(QString version READ Version WRITE setVersion NOTIFY VersionChanged)
    Q_PROPERTY(QString friendlyName READ FriendlyName WRITE setFriendlyName NOTIFY FriendlyNameChanged)
    Q_PROPERTY(
        short friendlyColorRed READ FriendlyColorRed WRITE setFriendlyColorRed NOTIFY FriendlyColorRedChanged)
    Q_PROPERTY(short friendlyColorGreen READ FriendlyColorGreen WRITE setFriendlyColorGreen NOTIFY
            FriendlyColorGreenChanged)
    Q_PROPERTY(short friendlyColorBlue READ FriendlyColorBlue WRITE setFriendlyColorBlue NOTIFY
            FriendlyColorBlueChanged)
    Q_PROPERTY(float friendlyColorHueF READ FriendlyColorHueF WRITE setFriendlyColorHueF NOTIFY
            FriendlyColorHueFChanged)
    Q_PROPERTY(float friendlyColorSatF READ FriendlyColorSatF WRITE setFriendlyColorSatF NOTIFY
            FriendlyColorSatFChanged)
    Q_PROPERTY(float friendlyColorLightnessF READ FriendlyColorLightnessF WRITE setFriendlyColorLightnessF
            NOTIFY FriendlyColorLightnessFChanged)
    Q_PROPERTY(QString prevImageName READ PrevImageName WRITE setPrevImageName NOTIFY PrevImageNameChanged)
    Q_PROPERTY(
        bool distributedFlag READ DistributedFlag WRITE setDistributedFlag NOTIFY DistributedFlagChanged)
    Q_PROPERTY(QQmlListProperty<Machine> machines READ Machines NOTIFY MachinesChanged)
    Q_PROPERTY(SerializationFlags xmlFlags READ XmlFlags WRITE setXmlFlags NOTIFY XmlFlagsChanged)

public:
    enum SerializationFlags : int {
        PelluxMaterialDocumentDescription = 0x1,
        PelluxMaterialDocumentVersion = 0x2,
        PelluxMaterialDocumentFriendlyName = 0x4,
        PelluxMaterialDocumentFriendlyColorRed = 0x8,
        PelluxMaterialDocumentFriendlyColorGreen = 0x10,
        PelluxMaterialDocumentFriendlyColorBlue = 0x20,
        PelluxMaterialDocumentFriendlyColorHueF = 0x40,
        PelluxMaterialDocumentFriendlyColorSatF = 0x80,
        PelluxMaterialDocumentFriendlyColorLightnessF = 0x100,
        PelluxMaterialDocumentPrevImageName = 0x200,
        PelluxMaterialDocumentDistributedFlag = 0x400,
    };
    Q_ENUM(SerializationFlags)

    explicit PelluxMaterialDocument(QObject* parent = nullptr);

    // Writes the ZqMaterial root element (auto-formatting is switched on).
    void ToXML(QXmlStreamWriter& writer) override;
    // Reads the ZqMaterial element into this document without emptying it
    // first; machines read are appended.
    bool FromXML(QXmlStreamReader& reader) override;
    // Document fields first, then with includeBaseClass the shared parameters.
    Q_INVOKABLE bool Validate(bool includeBaseClass = false) override;
    // The whole tree as XML. Equal documents give equal text, which the
    // interface relies on to detect unsaved changes.
    Q_INVOKABLE QString ToXMLString();
    Q_INVOKABLE void UpdateFlag(BaseMaterialObject::SharedSerializationFlags flag, bool enabled) override;
    // Outcome in hasError/errorString (cleared on success). Files that are
    // not regular, too large or beyond the bounds of DocumentFile are refused.
    Q_INVOKABLE void readFromPath(QString path);
    // Replaces the file only when everything was written; a failed save
    // leaves the old file as it was. The exception is a writable file in a
    // folder where no temporary file can be made: that one is written in
    // place. Refuses a target that is not a regular file. Outcome in
    // hasError/errorString (cleared on success).
    Q_INVOKABLE void writeToPath(QString path);

    bool HasError() const { return m_hasError; }
    QString ErrorString() const { return m_errorString; }

    QString Description() const { return m_description; }
    void setDescription(const QString& description);
    QString Version() const { return m_version; }
    void setVersion(const QString& version);
    QString FriendlyName() const { return m_friendlyName; }
    void setFriendlyName(const QString& friendlyName);
    // -1 in all three components means that no colour has been chosen.
    short FriendlyColorRed() const { return m_friendlyColorRed; }
    void setFriendlyColorRed(short red);
    short FriendlyColorGreen() const { return m_friendlyColorGreen; }
    void setFriendlyColorGreen(short green);
    short FriendlyColorBlue() const { return m_friendlyColorBlue; }
    void setFriendlyColorBlue(short blue);
    float FriendlyColorHueF() const { return m_friendlyColorHueF; }
    void setFriendlyColorHueF(float hue);
    float FriendlyColorSatF() const { return m_friendlyColorSatF; }
    void setFriendlyColorSatF(float saturation);
    float FriendlyColorLightnessF() const { return m_friendlyColorLightnessF; }
    void setFriendlyColorLightnessF(float lightness);
    QString PrevImageName() const { return m_prevImageName; }
    void setPrevImageName(const QString& prevImageName);
    // Clearing the flag also clears its present bit.
    bool DistributedFlag() const { return m_distributedFlag; }
    void setDistributedFlag(bool flag);
    QQmlListProperty<Machine> Machines();
    SerializationFlags XmlFlags() const { return m_xmlFlags; }
    void setXmlFlags(const SerializationFlags& flags);

    // The list operations for direct callers. Appending takes ownership and
    // ignores null; clearing deletes the machines at once.
    void _appendMachine(Machine* machine);
    int _machineCount() const;
    // nullptr when index is outside the list.
    Machine* _machineAt(int index) const;
    void _clearMachines();

    // The callbacks of the machines property. Its clear deletes the machines
    // on the next turn of the event loop, sparing those that QML appends
    // again meanwhile (a list assignment clears, then re-appends).
    static void _appendMachine(QQmlListProperty<Machine>* list, Machine* machine);
    static int _machineCount(QQmlListProperty<Machine>* list);
    static Machine* _machineAt(QQmlListProperty<Machine>* list, int index);
    static void _clearMachines(QQmlListProperty<Machine>* list);

signals:
    void DescriptionChanged();
    void VersionChanged();
    void FriendlyNameChanged();
    void FriendlyColorRedChanged();
    void FriendlyColorGreenChanged();
    void FriendlyColorBlueChanged();
    void FriendlyColorHueFChanged();
    void FriendlyColorSatFChanged();
    void FriendlyColorLightnessFChanged();
    void PrevImageNameChanged();
    void DistributedFlagChanged();
    void MachinesChanged();
    void XmlFlagsChanged();

private:
    bool _readMachinesFromXml(QXmlStreamReader& reader);
    // Records the outcome of a file operation; an empty error is success.
    void _setOutcome(const QString& error);
    void _setBit(SerializationFlags bit, bool present);
    // Stores a field, marks it present and tells QML.
    template <typename T>
    void _store(T& member, const T& value, SerializationFlags bit, void (PelluxMaterialDocument::*changed)());

    short m_redMinimum = 0;
    short m_redMaximum = 255;
    short m_greenMinimum = 0;
    short m_greenMaximum = 255;
    short m_blueMinimum = 0;
    short m_blueMaximum = 255;
    float m_hueMinimum = 0.0f;
    float m_hueMaximum = 1.0f;
    float m_saturationMinimum = 0.0f;
    float m_saturationMaximum = 200.0f;

    bool m_hasError = false;
    QString m_errorString;
    QString m_description;
    QString m_version = QStringLiteral("1.0");
    QString m_friendlyName;
    short m_friendlyColorRed = -1;
    short m_friendlyColorGreen = -1;
    short m_friendlyColorBlue = -1;
    float m_friendlyColorHueF = 0.0f;
    float m_friendlyColorSatF = 0.0f;
    float m_friendlyColorLightnessF = 0.0f;
    QString m_prevImageName;
    bool m_distributedFlag = false;
    QList<Machine*> m_machines;
    SerializationFlags m_xmlFlags = SerializationFlags(0);
};
