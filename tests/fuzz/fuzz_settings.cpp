// The key/value settings file loader. What it loads saves and loads back equal.
#include "fuzzsupport.h"

#include "zqkeyvaluesettings.h"

GELV_FUZZ_TARGET
{
    const QString path = FuzzSupport::scratch() + QStringLiteral("/settings");
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));
    ZqKeyValueSettings store(false);
    if (!store.LoadFrom(path)) {
        FuzzSupport::require(store.GetAllSettings().isEmpty(), "a refused file left entries");
        return 0;
    }
    const QString copyPath = FuzzSupport::scratch() + QStringLiteral("/copy");
    FuzzSupport::require(store.SaveTo(copyPath), "loaded settings could not be saved");
    ZqKeyValueSettings copy(false);
    FuzzSupport::require(copy.LoadFrom(copyPath), "saved settings could not be loaded");
    FuzzSupport::require(
        copy.GetAllSettings() == store.GetAllSettings(), "saved settings loaded differently");
    return 0;
}
