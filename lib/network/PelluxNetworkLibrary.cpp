#include "PelluxNetworkLibrary.h"

#include "zqmessagetypes.h"
#include "zqnetconnectionmanager.h"
#include "zqnethostconnection.h"
#include "zqnetrequester.h"

#include <QDataStream>
#include <QDebug>
#include <QHostAddress>
#include <QMutexLocker>
#include <QPointer>

#include <limits>

#include <utility>

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
    for (ValueSignalGate* gate : { &listSignals, &nameSignals, &materialStringSignals }) {
        gate->timer.setSingleShot(true);
        connect(&gate->timer, &QTimer::timeout, this, [this, gate] { _emitValueSignals(*gate); });
    }
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
    return _sendSetTo(_liveEntry(printerNumber), key, value);
}

bool PelluxNetworkLib::_sendSetTo(
    ZqNetRequester* requester, ZqNetValueKeys::ZqNetValuesKey key, const QByteArray& value)
{
    if (!requester || !_hasRoomToSend(requester))
        return false;
    const int id = requester->sendSetRequest(key, value);
    if (requester->sentRequestFromId(id).sent)
        return true;
    // Never written, so never answered: the caller's failure path takes it from here.
    requester->deQueueRequestById(id);
    qWarning().noquote() << "PelluxNetworkLib: the request to printer " + addressOf(requester)
            + " could not be sent: " + hostOf(requester)->Socket()->errorString();
    return false;
}

QString PelluxNetworkLib::_listedMaterialName(ZqNetRequester* requester, const QString& shown)
{
    if (!requester || shown.size() < MaxMaterialNameLength - 1)
        return shown;
    // A name that long may be the shown start of a longer one: the listed entry that
    // shows it stands for the whole name, when only one does.
    bool found = false;
    const QByteArray bytes
        = requester->GetCurrentCacheValue(ZqNetValueKeys::ZqNetValueKey_MLIB_MaterialNameList, found, false);
    const QStringList listed
        = ZqMessageTypes::decodeStringList(bytes, MaxMaterialNames, MaxMaterialNameLength, nullptr);
    const QStringList whole
        = ZqMessageTypes::decodeStringList(bytes, MaxMaterialNames, std::numeric_limits<int>::max(), nullptr);
    if (listed.size() != whole.size() || whole.contains(shown))
        return shown;
    QString match;
    for (int i = 0; i < listed.size(); ++i) {
        if (listed.at(i) != shown || whole.at(i) == match)
            continue;
        if (!match.isNull())
            return shown;
        match = whole.at(i);
    }
    return match.isNull() ? shown : match;
}

bool PelluxNetworkLib::_hasRoomToSend(ZqNetRequester* requester)
{
    // A printer that reads slowly or not at all must not make us hold every install.
    const qint64 waiting = hostOf(requester)->pendingSendBytes();
    if (waiting <= MaxSendBacklog)
        return true;
    qWarning().noquote() << "PelluxNetworkLib: printer " + addressOf(requester) + " has "
            + QString::number(waiting) + " bytes still to take; refusing another request";
    return false;
}

bool PelluxNetworkLib::sendMaterialString(QString matString, int printerNumber)
{
    // A list change held back from before this install is told now: told after the
    // send, it would pass for the printer's answer, and a denial after it would be missed.
    if (!listSignals.pending.isEmpty()) {
        listSignals.timer.stop();
        _emitValueSignals(listSignals);
    }
    return _sendSet(ZqNetValueKeys::ZqNetValueKey_CustomMaterialXMLString, matString.toUtf8(), printerNumber);
}

bool PelluxNetworkLib::removeMaterial(QString materialName, int printerNumber)
{
    QMutexLocker locker(&listLock);
    ZqNetRequester* requester = _liveEntry(printerNumber);
    return _sendSetTo(requester, ZqNetValueKeys::ZqNetValueKey_MLIB_RemoveMaterial,
        _listedMaterialName(requester, materialName).toUtf8());
}

bool PelluxNetworkLib::removeMaterial(QString materialName, QString ip)
{
    ZqNetRequester* requester = findPrinterByIP(ip);
    return _sendSetTo(requester, ZqNetValueKeys::ZqNetValueKey_MLIB_RemoveMaterial,
        _listedMaterialName(requester, materialName).toUtf8());
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
    QString ip;
    QPointer<ZqNetRequester> requester;
    {
        QMutexLocker locker(&listLock);
        requester = _liveEntry(printerNumber);
        if (!requester)
            return QJsonArray();
        bool found = false;
        bytes = requester->GetCurrentCacheValue(
            ZqNetValueKeys::ZqNetValueKey_MLIB_MaterialNameList, found, true);
        ip = addressOf(requester);
    }
    // Any machine can answer as a printer: a list of millions of names must cost no
    // more than the names shown.
    bool cut = false;
    const QStringList names
        = ZqMessageTypes::decodeStringList(bytes, MaxMaterialNames, MaxMaterialNameLength, &cut);
    // Once per connection: the list is read at every change it is told of.
    const char* const warned = "materialListCutWarned";
    if (cut && requester && !requester->property(warned).toBool()) {
        requester->setProperty(warned, true);
        qWarning().noquote() << QStringLiteral(
            "PelluxNetworkLib::getMaterialJSONList: printer %1 listed more "
            "than %2 materials or names longer than %3 characters; "
            "only the first %2, cut to %3, are shown")
                                    .arg(ip)
                                    .arg(MaxMaterialNames)
                                    .arg(MaxMaterialNameLength);
    }
    return QJsonArray::fromStringList(names);
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
    // Shown in labels and dialogs; a printer may send megabytes.
    QString text = QString::fromUtf8(name.left(MaxPrinterNameLength * 4));
    text.truncate(MaxPrinterNameLength);
    return text;
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
    // The ended printer's entry goes: kept, every reconnect would leave one more.
    auto* host = qobject_cast<ZqNetHostConnection*>(sender());
    ZqNetRequester* ended = nullptr;
    bool wasCurrent = false;
    int count = 0;
    {
        QMutexLocker locker(&listLock);
        for (ZqNetRequester* entry : qAsConst(printers)) {
            if (host && hostOf(entry) == host) {
                ended = entry;
                break;
            }
        }
        if (ended) {
            wasCurrent = ended == printers.last();
            printers.removeOne(ended);
        } else {
            // Taken off the list by a disconnect of ours: the current printer's, unless
            // another one is live.
            wasCurrent = !_liveEntry(-1);
        }
        count = printers.size();
    }
    if (ended) {
        // Its own handler of this signal still runs; it goes with the next event loop pass.
        ended->deleteLater();
        emit printerCountChanged(count);
    }
    // An older printer, say, whose end must not be reported beside the current one.
    if (!wasCurrent)
        return;
    // Another printer may still be live; the count change above has made it the current one.
    if (connected && !_liveEntry(-1)) {
        connected = false;
        emit isConnected(QString());
    }
    emit disconnected();
}

void PelluxNetworkLib::_valueChanged(ZqNetValueKeys::ZqNetValuesKey key, const QByteArray& value)
{
    switch (key) {
    case ZqNetValueKeys::ZqNetValueKey_FriendlyPrinterName:
        _queueValueSignal(nameSignals);
        break;
    case ZqNetValueKeys::ZqNetValueKey_MLIB_MaterialNameList:
        _queueValueSignal(listSignals);
        break;
    case ZqNetValueKeys::ZqNetValueKey_CustomMaterialXMLString:
        _queueValueSignal(materialStringSignals, value);
        break;
    default:
        break;
    }
}

void PelluxNetworkLib::_queueValueSignal(ValueSignalGate& gate, const QByteArray& value)
{
    gate.newest = value;
    // Each list replaces the interface's model, each name relabels it and each material
    // string is copied into QML: one per interval is all anyone can see.
    const QPointer<ZqNetRequester> requester = qobject_cast<ZqNetRequester*>(sender());
    if (!gate.pending.contains(requester))
        gate.pending.append(requester);
    if (gate.timer.isActive())
        return;
    const qint64 since = gate.sinceLast.isValid() ? gate.sinceLast.elapsed() : ValueSignalInterval_MS;
    if (since >= ValueSignalInterval_MS)
        _emitValueSignals(gate);
    else
        gate.timer.start(int(ValueSignalInterval_MS - since));
}

void PelluxNetworkLib::_emitValueSignals(ValueSignalGate& gate)
{
    gate.sinceLast.start();
    const auto pending = std::exchange(gate.pending, {});
    // What the printers reported stays true once they are gone: the newest is told.
    if (&gate == &materialStringSignals) {
        if (!pending.isEmpty())
            emit jsonAccepted(std::exchange(gate.newest, {}));
        return;
    }
    // A printer gone since has told the interface already.
    for (const QPointer<ZqNetRequester>& requester : pending) {
        if (!hostOf(requester))
            continue;
        if (&gate == &listSignals)
            emit materialListChanged(addressOf(requester));
        else
            emit printerNameChanged(addressOf(requester));
    }
}

void PelluxNetworkLib::onValueUpdate(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value)
{
    _valueChanged(key, value);
}

void PelluxNetworkLib::onCacheValueUpdate(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value)
{
    // A broadcast is relayed once, by onValueUpdate, changed or not.
    auto* requester = qobject_cast<ZqNetRequester*>(sender());
    if (requester && requester->handlingBroadcast())
        return;
    _valueChanged(key, value);
}

void PelluxNetworkLib::onDeniedByHost(int requestID, ZqNetValueKeys::ZqNetValuesKey key)
{
    switch (key) {
    case ZqNetValueKeys::ZqNetValueKey_InvalidKey:
        qWarning() << "Invalid key recieved? onDeniedByHost";
        qWarning() << "requestID is" << requestID;
        qWarning().noquote() << "ZqNetValueKey is" << ZqNetValueKeys::KeyStringFromKey(key);
        if (auto* requester = qobject_cast<ZqNetRequester*>(sender()))
            qWarning().noquote() << QStringLiteral("PelluxNetworkLib::onDeniedByHost: printer %1 refused %2 "
                                                   "(request %3) as a key it does not know")
                                        .arg(addressOf(requester),
                                            ZqNetValueKeys::KeyStringFromKey(
                                                requester->sentRequestFromId(requestID).key))
                                        .arg(requestID);
        emit deniedByInvalidKey();
        break;
    case ZqNetValueKeys::ZqNetValueKey_MLIB_RemoveMaterial:
        emit materialRemovalDenied();
        break;
    case ZqNetValueKeys::ZqNetValueKey_CustomMaterialXMLString:
        qWarning().noquote() << QStringLiteral(
            "PelluxNetworkLib::onDeniedByHost: printer %1 refused the material "
            "install, key %2 (request %3); a group key that differs between "
            "this application and the printer gives this same answer")
                                    .arg(addressOf(qobject_cast<ZqNetRequester*>(sender())),
                                        ZqNetValueKeys::KeyStringFromKey(key))
                                    .arg(requestID);
        emit materialDenied();
        break;
    default:
        break;
    }
}
