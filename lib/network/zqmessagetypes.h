#pragma once

#include "zqnetvaluekeys.h"

#include <QByteArray>
#include <QDataStream>
#include <QMetaType>
#include <QStringList>

// The printer protocol's message codes and payload readers. Payloads are written
// and read with QDataStream version 16 (Qt_5_4), big-endian.
namespace ZqMessageTypes {

// Several codes lie above 0x7FFFFFFF, hence the unsigned 32-bit type; 0 is "no message".
enum ZqMessageType : quint32 {
    ZqMessage_None = 0,
    // client requests
    ZqMessage_GetValueRequest = 0x7D218C12,
    ZqMessage_SetValueRequest = 0x808B3BB8,
    ZqMessage_FileTransferRequest = 0x07ACBFA1,
    ZqMessage_FileRetrieveRequest = 0x08401FC4,
    // printer replies and broadcast
    ZqMessage_ValueRequestAccepted = 0x1504101D,
    ZqMessage_GetValueRequestDenied = 0x2ED27536,
    ZqMessage_SetValueRequestDenied = 0x27E26376,
    ZqMessage_FileRequestAccepted = 0x17FAE602,
    ZqMessage_FileTransferRequestDenied = 0x64A5933A,
    ZqMessage_FileRetrieveRequestDenied = 0x24A4855B,
    ZqMessage_ValueUpdateBroadcast = 0xDC9B44C3,
    // either side
    ZqMessage_WatchDogPing = 0x7943A2A5,
    ZqMessage_GenericMessage = 0x82443225,
    ZqMessage_FileDataMessage = 0x82703EC2,
};

// Width in bytes of each of the two path fields of a file frame.
constexpr int ZqMessage_FileDataMessage_Path_String_Length = 256;

constexpr int StreamVersion = 16; // QDataStream::Qt_5_4

bool IsValidMessage(uint code);
bool IsValidClientMessage(uint code);
bool IsValidServerMessage(uint code);

// The code of a request, reply or broadcast read from the start of data; 0 otherwise.
ZqMessageType getMessageType(QByteArray data);
// The key named after the leading request id of a get/set payload.
ZqNetValueKeys::ZqNetValuesKey getValueKeyFromMessage(QByteArray payload);
// The value after the request id and the key name; null when the payload is too short.
QByteArray getValueFromValueMessage(QByteArray payload);

// Reads a QStringList (32-bit count, then each QString) that a peer sent. Unlike
// QDataStream >> QStringList it never reserves the peer's count: the count must fit
// in the bytes left on the stream's device, each element is read in turn and the
// stream's status is checked. On any failure the list is empty, the stream's status
// is not Ok and the result is false.
bool readStringList(QDataStream& in, QStringList& list);
// The same over a whole value; bytes that do not decode completely give an empty list.
QStringList decodeStringList(const QByteArray& value, bool* ok = nullptr);
// As readStringList, keeping at most maxCount strings of at most maxLength UTF-16 units
// each. Reading stops after the last string kept, so a far longer list costs no more than
// maxCount strings, and the bytes of a string beyond maxLength are skipped, not copied
// (a high surrogate left at the cut goes too). cut tells whether strings were dropped or
// shortened; bytes after the last string kept are not looked at.
bool readStringList(QDataStream& in, QStringList& list, int maxCount, int maxLength, bool* cut);
QStringList decodeStringList(
    const QByteArray& value, int maxCount, int maxLength, bool* cut, bool* ok = nullptr);

// Registers the protocol's types with the meta-type system under their qualified names.
void registerMetaTypes();

} // namespace ZqMessageTypes

Q_DECLARE_METATYPE(ZqMessageTypes::ZqMessageType)
