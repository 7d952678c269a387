#include "zqnetvaluekeys.h"

#include <QDebug>

namespace ZqNetValueKeys {

const QString valueKeyStrings[KeyCount] = {
#define ZQ_NET_VALUE_KEY_NAME(name) QStringLiteral(#name),
    ZQ_NET_VALUE_KEYS(ZQ_NET_VALUE_KEY_NAME)
#undef ZQ_NET_VALUE_KEY_NAME
};

ZqNetValuesKey KeyFromKeyString(const QString& name)
{
    for (int i = 0; i < KeyCount; ++i) {
        if (valueKeyStrings[i] == name)
            return ZqNetValuesKey(FirstKeyValue + quint32(i));
    }
    return ZqNetValueKey_InvalidKey;
}

QString KeyStringFromKey(ZqNetValuesKey key)
{
    return KeyIsValid(key) ? valueKeyStrings[key - FirstKeyValue] : valueKeyStrings[0];
}

bool KeyIsValid(ZqNetValuesKey key)
{
    return key > ZqNetValueKey_InvalidKey && key < ZqNetValueKey_EndingInvalidKey;
}

QStringList KeyStrings()
{
    QStringList all;
    all.reserve(KeyCount);
    for (const QString& name : valueKeyStrings)
        all.append(name);
    return all;
}

bool valueKeysSanityCheck()
{
    if (valueKeyStrings[0] == QLatin1String("ZqNetValueKey_InvalidKey")
        && valueKeyStrings[KeyCount - 1] == QLatin1String("ZqNetValueKey_EndingInvalidKey"))
        return true;
    qDebug().nospace() << "Number of value keys: " << KeyCount;
    qDebug().noquote() << "First key string: " + valueKeyStrings[0];
    qDebug().noquote() << "Last key string: " + valueKeyStrings[KeyCount - 1];
    return false;
}

} // namespace ZqNetValueKeys
