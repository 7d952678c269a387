// Hex decryption under a key and under a password, on any text; and
// encryption, which must decrypt back to the same bytes.
// Input: one mode byte, one key length byte, the key (Latin-1), the rest.
#include "fuzzsupport.h"

#include "encrypt.h"

GELV_FUZZ_TARGET
{
    if (size < 2)
        return 0;
    const int mode = data[0] % 4;
    const int keySize = qMin(int(data[1]), int(size) - 2);
    const QString key = QString::fromLatin1(reinterpret_cast<const char*>(data) + 2, keySize);
    const QByteArray rest(reinterpret_cast<const char*>(data) + 2 + keySize, int(size) - 2 - keySize);
    static Zq::Encrypt encrypt;
    switch (mode) {
    case 0:
    case 1:
        encrypt.DecryptWithKey(key, rest, mode == 1);
        break;
    case 2:
        encrypt.DecryptWithPassword(key, rest);
        break;
    default: {
        const QByteArray withKey = encrypt.EncryptWithKey(key, rest);
        if (!withKey.isEmpty())
            FuzzSupport::require(encrypt.DecryptWithKey(key, withKey, false) == rest, "key round trip");
        const QByteArray withPassword = encrypt.EncryptWithPassword(key, rest);
        FuzzSupport::require(!withPassword.isEmpty(), "a password always encrypts");
        FuzzSupport::require(encrypt.DecryptWithPassword(key, withPassword) == rest, "password round trip");
        break;
    }
    }
    return 0;
}
