#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace Zq {

// Authenticated AES-GCM encryption of bytes into uppercase hexadecimal text,
// under a text key or under a password.
//
// Text key: its own characters are the key material; the AES key is the first
// n / 2 bytes of its UTF-8 form, n being its length in UTF-16 units, so 32, 48 or
// 64 ASCII characters (or one more) give AES-128, -192 or -256.
//
// Every failure is logged at critical level and gives an empty result, so a
// caller never mistakes a partial text or unauthenticated bytes for a result.
// An object may serve any number of calls; no result depends on an earlier one.
// Not to be used by two threads at once.
class Encrypt : public QObject {
    Q_OBJECT
public:
    explicit Encrypt(QObject* parent = nullptr);
    ~Encrypt() override;

    // HEX(IV 16) HEX(ciphertext) HEX(tag 12): 32 + 2 * (size + 12) characters, or empty.
    Q_INVOKABLE QByteArray EncryptWithKey(const QString& key, const QByteArray& data);
    // HEX(salt 16) then the key encryption under the salted key: 64 + 2 * (size + 12) characters, or empty.
    Q_INVOKABLE QByteArray EncryptWithPassword(const QString& password, const QByteArray& data);
    // The plaintext, or empty when the key, the IV or the tag does not fit.
    // The message is split by character position: salt (when salted) and IV
    // are its first 32-character parts, the cipher part the rest. Characters
    // that are no hex digits are skipped within each part, so a stray one in
    // the salt or IV shifts the split and authentication fails.
    Q_INVOKABLE QByteArray DecryptWithKey(const QString& key, const QByteArray& message, bool isSalted);
    Q_INVOKABLE QByteArray DecryptWithPassword(const QString& password, const QByteArray& message);

private:
    // Holds the Crypto++ objects, kept out of this header.
    struct Private;
    QByteArray _encrypt(const QString& key, const QByteArray& data);

    std::unique_ptr<Private> d;
};

} // namespace Zq
