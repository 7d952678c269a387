#pragma once

#include <QtPlugin>

class QXmlStreamReader;
class QXmlStreamWriter;

// What every serialisable, validatable part of a material document offers.
class IMaterialObject {
public:
    virtual ~IMaterialObject() = default;
    virtual void ToXML(QXmlStreamWriter& writer) = 0;
    virtual bool FromXML(QXmlStreamReader& reader) = 0;
    virtual bool Validate(bool includeBaseClass) = 0;
};

// Kept as released, spelling included: casts by this id must keep working.
#define IMaterialObject_iid "com.vtr.MaterialDocumentMangementLib.IMaterialObject/1.0"
Q_DECLARE_INTERFACE(IMaterialObject, IMaterialObject_iid)
