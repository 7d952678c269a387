// The material document reader on the bytes of a file. What it reads must
// save and read back to the same text.
#include "fuzzsupport.h"

#include "pelluxmaterialdocument.h"

GELV_FUZZ_TARGET
{
    const QString path = FuzzSupport::scratch() + QStringLiteral("/input.zqmat");
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));
    PelluxMaterialDocument document;
    document.readFromPath(path);
    if (document.HasError())
        return 0;
    const QString text = document.ToXMLString();
    document.Validate(true);
    const QString copyPath = FuzzSupport::scratch() + QStringLiteral("/copy.zqmat");
    document.writeToPath(copyPath);
    FuzzSupport::require(!document.HasError(), "a document read could not be saved");
    PelluxMaterialDocument copy;
    copy.readFromPath(copyPath);
    FuzzSupport::require(!copy.HasError(), "a saved document could not be read back");
    FuzzSupport::require(copy.ToXMLString() == text, "a saved document read back differently");
    return 0;
}
