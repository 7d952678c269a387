#include "PelluxNetworkLibrary.h"

#include "zqmessagetypes.h"
#include "zqnetconnectionmanager.h"
#include "zqnethostconnection.h"
#include "zqnetrequester.h"

#include <QDataStream>
#include <QDebug>
#include <QHostAddress>
#include <QMutexLocker>

namespace {

ZqNetHostConnection* hostOf(const ZqNetRequester* requester)
{
    return requester ? requester->hostConnection : nullptr;
}

QString addressOf(const ZqNetRequester* requester)
{
    ZqNetHostConnection* host = hostOf(requester);
    return host ? host->hostAddressString() : QString();
}

} // namespace

PelluxNetworkLib::PelluxNetworkLib(QQuickItem* parent)
    : QQuickItem(parent)
{
    ZqMessageTypes::registerMetaTypes();
    manager = new ZqNetConnectionManager(false, this);
    connect(this, &PelluxNetworkLib::printerCountChanged, this, &PelluxNetworkLib::onConnected,
        Qt::DirectConnection);
}

PelluxNetworkLib::~PelluxNetworkLib() = default;

ZqNetRequester* PelluxNetworkLib::_liveEntry(int printerNumber) const
{
    if (printers.isEmpty())
        return nullptr;
    ZqNetRequester* entry = nullptr;
    if (printerNumber == -1)
        entry = printers.last();
    else if (printerNumber >= 0 && printerNumber < printers.size())
        entry = printers.at(printerNumber);
    return hostOf(entry) ? entry : nullptr;
}

bool PelluxNetworkLib::_sendSet(
    ZqNetValueKeys::ZqNetValuesKey key, const QByteArray& value, int printerNumber)
{
    QMutexLocker locker(&listLock);
    ZqNetRequester* requester = _liveEntry(printerNumber);
    if (!requester)
        return false;
    requester->sendSetRequest(key, value);
    return true;
}

bool PelluxNetworkLib::sendMaterialString(QString matString, int printerNumber)
{
    return _sendSet(ZqNetValueKeys::ZqNetValueKey_CustomMaterialXMLString, matString.toUtf8(), printerNumber);
}

bool PelluxNetworkLib::removeMaterial(QString materialName, int printerNumber)
{
    return _sendSet(ZqNetValueKeys::ZqNetValueKey_MLIB_RemoveMaterial, materialName.toUtf8(), printerNumber);
}

bool PelluxNetworkLib::removeMaterial(QString materialName, QString ip)
{
    ZqNetRequester* requester = findPrinterByIP(ip);
    if (!requester)
        return false;
    requester->sendSetRequest(ZqNetValueKeys::ZqNetValueKey_MLIB_RemoveMaterial, materialName.toUtf8());
    return true;
}

bool PelluxNetworkLib::connectToPrinter(QString ip)
{
    if (!manager->AttemptConnectionToServer(QHostAddress(ip), PrinterConnectTimeout_MS)) {
        emit attemptConnectionFailed();
        return false;
    }
    // The manager connected its own handler first, so it always sees the end first.
    ZqNetHostConnection* host = manager->ServerConnections().last();
    connect(host, &ZqNetHostConnection::disconnected, this, &PelluxNetworkLib::onDisconnected);
    auto* requester = new ZqNetRequester(this);
    requester->setHostConnection(host);
    connect(requester, &ZqNetRequester::valueUpdateBroadcast, this, &PelluxNetworkLib::onValueUpdate);
    connect(requester, &ZqNetRequester::cacheValueChanged, this, &PelluxNetworkLib::onCacheValueUpdate);
    connect(requester, &ZqNetRequester::setRequestDenied, this, &PelluxNetworkLib::onDeniedByHost);
    addPrinterRequester(requester);
    return true;
}

bool PelluxNetworkLib::disconnectFromPrinter(QString ip)
{
    ZqNetRequester* requester = findPrinterByIP(ip);
    return requester && removePrinterRequester(requester);
}

QString PelluxNetworkLib::getPrinterIP(int printerNumber)
{
    QMutexLocker locker(&listLock);
    return addressOf(_liveEntry(printerNumber));
}

QJsonArray PelluxNetworkLib::getMaterialJSONList(int printerNumber)
{
    QByteArray bytes;
    {
        QMutexLocker locker(&listLock);
        ZqNetRequester* requester = _liveEntry(printerNumber);
        if (!requester)
            return QJsonArray();
        bool found = false;
        bytes = requester->GetCurrentCacheValue(
            ZqNetValueKeys::ZqNetValueKey_MLIB_MaterialNameList, found, true);
    }
    return QJsonArray::fromStringList(ZqMessageTypes::decodeStringList(bytes));
}

QString PelluxNetworkLib::getPrinterName(int printerNumber)
{
    QMutexLocker locker(&listLock);
    ZqNetRequester* requester = _liveEntry(printerNumber);
    if (!requester)
        return QString();
    bool found = false;
    QByteArray name
        = requester->GetCurrentCacheValue(ZqNetValueKeys::ZqNetValueKey_FriendlyPrinterName, found, true);
    const int end = name.indexOf('\0');
    if (end >= 0)
        name.truncate(end);
    return QString::fromUtf8(name);
}

int PelluxNetworkLib::printerCount() { return printers.size(); }

bool PelluxNetworkLib::getIsConnected() { return connected; }

ZqNetRequester* PelluxNetworkLib::findPrinterByIP(QString ip)
{
    for (ZqNetRequester* requester : qAsConst(printers)) {
        if (hostOf(requester) && addressOf(requester) == ip)
            return requester;
    }
    return nullptr;
}

void PelluxNetworkLib::addPrinterRequester(ZqNetRequester* requester)
{
    int count = 0;
    {
        QMutexLocker locker(&listLock);
        printers.append(requester);
        count = printers.size();
    }
    emit printerCountChanged(count);
}

bool PelluxNetworkLib::removePrinterRequester(ZqNetRequester* requester)
{
    ZqNetHostConnection* given = hostOf(requester);
    ZqNetRequester* match = nullptr;
    int count = 0;
    {
        QMutexLocker locker(&listLock);
        if (!given)
            return false;
        for (ZqNetRequester* entry : qAsConst(printers)) {
            if (hostOf(entry) && hostOf(entry)->HostAddress() == given->HostAddress()) {
                match = entry;
                break;
            }
        }
        if (!match)
            return false;
        printers.removeOne(match);
        count = printers.size();
    }
    // Ending the connection may run the whole disconnect chain, QML handlers
    // included, at once; the lock is free by then.
    hostOf(match)->forceDisconnect();
    match->deleteLater();
    emit printerCountChanged(count);
    return true;
}

void PelluxNetworkLib::removePrinterRequester(int index)
{
    ZqNetRequester* entry = nullptr;
    int count = 0;
    {
        QMutexLocker locker(&listLock);
        if (index < 0 || index >= printers.size())
            return;
        entry = printers.takeAt(index);
        count = printers.size();
    }
    // Left connected, the manager would refuse that address for good.
    if (ZqNetHostConnection* host = hostOf(entry))
        host->forceDisconnect();
    entry->deleteLater();
    emit printerCountChanged(count);
}

void PelluxNetworkLib::_setConnected(bool nowConnected, const QString& ip)
{
    connected = nowConnected;
    emit isConnected(ip);
}

void PelluxNetworkLib::onConnected()
{
    // A dead newest entry has no printer to report: the same as no entry.
    ZqNetRequester* newest = printers.isEmpty() ? nullptr : printers.last();
    if (!hostOf(newest)) {
        _setConnected(false, QString());
        emit materialListChanged(QString());
        emit printerNameChanged(QString());
        return;
    }
    const QString ip = addressOf(newest);
    _setConnected(true, ip);
    newest->sendGetRequest(ZqNetValueKeys::ZqNetValueKey_MLIB_MaterialNameList, false);
    newest->sendGetRequest(ZqNetValueKeys::ZqNetValueKey_FriendlyPrinterName, false);
    emit materialListChanged(ip);
    emit printerNameChanged(ip);
}

void PelluxNetworkLib::onDisconnected()
{
    const bool changed = connected;
    connected = false;
    if (changed)
        emit isConnected(QString());
    emit disconnected();
}

void PelluxNetworkLib::_valueChanged(ZqNetValueKeys::ZqNetValuesKey key, const QByteArray& value)
{
    const QString ip = addressOf(qobject_cast<ZqNetRequester*>(sender()));
    switch (key) {
    case ZqNetValueKeys::ZqNetValueKey_FriendlyPrinterName:
        emit printerNameChanged(ip);
        break;
    case ZqNetValueKeys::ZqNetValueKey_MLIB_MaterialNameList:
        emit materialListChanged(ip);
        break;
    case ZqNetValueKeys::ZqNetValueKey_CustomMaterialXMLString:
        emit jsonAccepted(value);
        break;
    default:
        break;
    }
}

void PelluxNetworkLib::onValueUpdate(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value)
{
    _valueChanged(key, value);
}

void PelluxNetworkLib::onCacheValueUpdate(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value)
{
    _valueChanged(key, value);
}

void PelluxNetworkLib::onDeniedByHost(int requestID, ZqNetValueKeys::ZqNetValuesKey key)
{
    switch (key) {
    case ZqNetValueKeys::ZqNetValueKey_InvalidKey:
        qWarning() << "Invalid key recieved? onDeniedByHost";
        qWarning() << "requestID is" << requestID;
        qWarning().noquote() << "ZqNetValueKey is" << ZqNetValueKeys::KeyStringFromKey(key);
        emit deniedByInvalidKey();
        break;
    case ZqNetValueKeys::ZqNetValueKey_MLIB_RemoveMaterial:
        emit materialRemovalDenied();
        break;
    case ZqNetValueKeys::ZqNetValueKey_CustomMaterialXMLString:
        emit materialDenied();
        break;
    default:
        break;
    }
}
