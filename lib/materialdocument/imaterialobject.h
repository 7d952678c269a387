#pragma once

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
