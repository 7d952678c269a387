#include "encrypt.h"

#include <QtDebug>

#include <cryptopp/aes.h>
#include <cryptopp/filters.h>
#include <cryptopp/gcm.h>
#include <cryptopp/hex.h>
#include <cryptopp/osrng.h>
#include <cryptopp/secblock.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <limits>

namespace Zq {

namespace {

    constexpr int IvSize = 16;
    constexpr int SaltSize = 16;
    constexpr int TagSize = 12;
    constexpr int DerivedKeyBytes = 32;

    using CryptoPP::byte;

    const byte* bytes(const char* p) { return reinterpret_cast<const byte*>(p); }
    byte* bytes(char* p) { return reinterpret_cast<byte*>(p); }

    void toUpperHex(const byte* in, int size, char* out)
    {
        static const char digits[] = "0123456789ABCDEF";
        for (int i = 0; i < size; ++i) {
            out[2 * i] = digits[in[i] >> 4];
            out[2 * i + 1] = digits[in[i] & 0x0f];
        }
    }

    void wipe(QByteArray& secret)
    {
        if (!secret.isEmpty())
            CryptoPP::SecureWipeArray(bytes(secret.data()), size_t(secret.size()));
        secret.clear();
    }

    // The key's characters are the key material: the first n / 2 bytes of its
    // UTF-8 form, n being its UTF-16 length. Stored files and printers rely on this.
    CryptoPP::SecByteBlock aesKeyFromText(const QString& key)
    {
        QByteArray utf8 = key.toUtf8();
        const int size = std::min(int(key.size() / 2), int(utf8.size()));
        CryptoPP::SecByteBlock aesKey(bytes(utf8.constData()), size_t(size));
        wipe(utf8);
        return aesKey;
    }

    QByteArray hexDecode(const char* text, int size)
    {
        std::string decoded;
        CryptoPP::StringSource(bytes(text), size_t(std::max(size, 0)), true,
            new CryptoPP::HexDecoder(new CryptoPP::StringSink(decoded)));
        return QByteArray(decoded.data(), int(decoded.size()));
    }

    void logFailure(const char* what, const CryptoPP::Exception& e)
    {
        qCritical("%s\n", what);
        qCritical("%s\n", e.what());
        qCritical("\n");
    }

} // namespace

struct Encrypt::Private {
    CryptoPP::AutoSeededRandomPool randomPool;
    CryptoPP::SHA512 hash;
    // The hex of the current encryption's salt (password mode) and IV, put in front of the cipher text.
    QByteArray hexPrefix;
    // Takes the salt and the IV as they are drawn; holds nothing between encryptions.
    CryptoPP::HexEncoder hexEncoder { nullptr, true };

    // Ends the encoder's message and moves all it made for this encryption into hexPrefix.
    void takeHexPrefix()
    {
        hexEncoder.MessageEnd();
        hexPrefix.resize(int(hexEncoder.MaxRetrievable()));
        hexEncoder.Get(bytes(hexPrefix.data()), size_t(hexPrefix.size()));
        hexEncoder.SkipAll();
    }

    // SHA-512 over the first m UTF-8 bytes of the password (m = its UTF-16
    // length) and the salt; the key text is the uppercase hex of 32 digest bytes.
    QString keyTextFromPassword(const QString& password, const QByteArray& salt)
    {
        QByteArray utf8 = password.toUtf8();
        const int size = std::min(int(password.size()), int(utf8.size()));
        CryptoPP::SecByteBlock digest(CryptoPP::SHA512::DIGESTSIZE);
        hash.Update(bytes(utf8.constData()), size_t(size));
        hash.Update(bytes(salt.constData()), size_t(salt.size()));
        hash.Final(digest);
        wipe(utf8);
        QByteArray text(2 * DerivedKeyBytes, Qt::Uninitialized);
        toUpperHex(digest, DerivedKeyBytes, text.data());
        const QString keyText = QString::fromLatin1(text);
        wipe(text);
        return keyText;
    }
};

Encrypt::Encrypt(QObject* parent)
    : QObject(parent)
    , d(new Private)
{
    d->randomPool.Reseed(false, 32);
}

Encrypt::~Encrypt() = default;

QByteArray Encrypt::EncryptWithKey(const QString& key, const QByteArray& data) { return _encrypt(key, data); }

QByteArray Encrypt::EncryptWithPassword(const QString& password, const QByteArray& data)
{
    QByteArray salt(SaltSize, Qt::Uninitialized);
    d->randomPool.GenerateBlock(bytes(salt.data()), size_t(salt.size()));
    const QString keyText = d->keyTextFromPassword(password, salt);
    // Fed only now: nothing between here and the prefix's taking can throw and leave it behind.
    d->hexEncoder.Put(bytes(salt.constData()), size_t(salt.size()));
    return _encrypt(keyText, data);
}

// The prefix is whatever this encryption fed the encoder: the salt's hex when a
// password encryption called, then the IV's. The result is returned only when
// the whole encryption succeeded.
QByteArray Encrypt::_encrypt(const QString& key, const QByteArray& data)
{
    byte iv[IvSize];
    d->randomPool.GenerateBlock(iv, IvSize);
    d->hexEncoder.Put(iv, IvSize);
    d->takeHexPrefix();

    const qint64 prefixSize = d->hexPrefix.size();
    const qint64 cipherHexSize = 2 * (qint64(data.size()) + TagSize);
    if (prefixSize + cipherHexSize > std::numeric_limits<int>::max() - 1) {
        qCritical("Zq::Encrypt: %d bytes are too many to encrypt\n", data.size());
        return QByteArray();
    }
    QByteArray result(int(prefixSize + cipherHexSize), Qt::Uninitialized);
    std::copy(d->hexPrefix.constBegin(), d->hexPrefix.constEnd(), result.begin());

    try {
        const CryptoPP::SecByteBlock aesKey = aesKeyFromText(key);
        CryptoPP::GCM<CryptoPP::AES>::Encryption encryption;
        encryption.SetKeyWithIV(aesKey, aesKey.size(), iv, IvSize);

        CryptoPP::ArraySink sink(bytes(result.data()) + prefixSize, size_t(cipherHexSize));
        CryptoPP::ArraySource(bytes(data.constData()), size_t(data.size()), true,
            new CryptoPP::AuthenticatedEncryptionFilter(
                encryption, new CryptoPP::HexEncoder(new CryptoPP::Redirector(sink), true), false, TagSize));
        if (sink.TotalPutLength() != CryptoPP::lword(cipherHexSize))
            throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR, "unexpected cipher text length");
    } catch (const CryptoPP::InvalidArgument& e) {
        logFailure("Caught InvalidArgument...", e);
        return QByteArray();
    } catch (const CryptoPP::Exception& e) {
        logFailure("Caught Exception...", e);
        return QByteArray();
    }
    return result;
}

// Salt, IV and cipher part are split by character position; the hex decoder
// then skips what is no hex digit within each part, so a stray character in
// the salt or the IV fails authentication instead of being read around.
QByteArray Encrypt::DecryptWithKey(const QString& key, const QByteArray& message, bool isSalted)
{
    const int ivAt = isSalted ? 2 * SaltSize : 0;
    const int cipherAt = std::min(ivAt + 2 * IvSize, int(message.size()));
    const QByteArray iv = hexDecode(message.constData() + std::min(ivAt, int(message.size())),
        std::min(2 * IvSize, int(message.size()) - ivAt));
    const char* cipherHex = message.constData() + cipherAt;
    const int cipherHexSize = int(message.size()) - cipherAt;

    // Room for every decoded byte; the plaintext is the decoded bytes less the tag.
    QByteArray plain(cipherHexSize / 2 + 1, Qt::Uninitialized);
    try {
        const CryptoPP::SecByteBlock aesKey = aesKeyFromText(key);
        CryptoPP::GCM<CryptoPP::AES>::Decryption decryption;
        decryption.SetKeyWithIV(aesKey, aesKey.size(), bytes(iv.constData()), size_t(iv.size()));

        CryptoPP::ArraySink sink(bytes(plain.data()), size_t(plain.size()));
        CryptoPP::AuthenticatedDecryptionFilter decryptor(decryption, new CryptoPP::Redirector(sink),
            CryptoPP::AuthenticatedDecryptionFilter::DEFAULT_FLAGS, TagSize);
        CryptoPP::ArraySource(bytes(cipherHex), size_t(cipherHexSize), true,
            new CryptoPP::HexDecoder(new CryptoPP::Redirector(decryptor)));
        plain.resize(int(sink.TotalPutLength()));
    } catch (const CryptoPP::HashVerificationFilter::HashVerificationFailed& e) {
        // The unauthenticated plaintext is already in the buffer.
        wipe(plain);
        logFailure("Caught HashVerificationFailed...", e);
        return QByteArray();
    } catch (const CryptoPP::InvalidArgument& e) {
        wipe(plain);
        logFailure("Caught InvalidArgument...", e);
        return QByteArray();
    } catch (const CryptoPP::Exception& e) {
        wipe(plain);
        logFailure("Caught Exception...", e);
        return QByteArray();
    }
    return plain;
}

QByteArray Encrypt::DecryptWithPassword(const QString& password, const QByteArray& message)
{
    const QByteArray salt = hexDecode(message.constData(), std::min(2 * SaltSize, int(message.size())));
    return DecryptWithKey(d->keyTextFromPassword(password, salt), message, true);
}

} // namespace Zq
