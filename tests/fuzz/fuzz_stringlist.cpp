// The decoder of the string lists that a printer sends (its material names).
// A list it accepts encodes back to the bytes it was read from.
#include "fuzzsupport.h"

#include "zqmessagetypes.h"

GELV_FUZZ_TARGET
{
    const QByteArray bytes = FuzzSupport::bytes(data, size);
    bool ok = false;
    const QStringList list = ZqMessageTypes::decodeStringList(bytes, &ok);
    FuzzSupport::require(ok || list.isEmpty(), "a refused list is not empty");
    if (!ok)
        return 0;
    QByteArray encoded;
    QDataStream out(&encoded, QIODevice::WriteOnly);
    out.setVersion(ZqMessageTypes::StreamVersion);
    out << list;
    FuzzSupport::require(bytes.startsWith(encoded), "an accepted list does not encode back to its bytes");
    return 0;
}
