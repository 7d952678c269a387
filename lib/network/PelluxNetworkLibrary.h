#pragma once

#include "zqnetvaluekeys.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QQuickItem>
#include <QString>
#include <QTimer>
#include <QVector>

class ZqNetConnectionManager;
class ZqNetRequester;

// The one object through which QML talks to printers: connects by address,
// keeps one requester per connected printer (newest last), installs and
// removes materials, and reads the name and material list from the cache.
// A printer number of -1 means the newest entry; an entry whose printer has
// dropped the connection stays listed but is treated as having no printer.
class PelluxNetworkLib : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(bool connected READ getIsConnected NOTIFY isConnected)
    Q_PROPERTY(int printerCount READ printerCount NOTIFY printerCountChanged)
public:
    static constexpr int PrinterConnectTimeout_MS = 1000;
    // What is taken from a printer's material list; the rest is dropped with a warning.
    static constexpr int MaxMaterialNames = 1000;
    static constexpr int MaxMaterialNameLength = 256;
    static constexpr int MaxPrinterNameLength = 256;
    // Bytes a printer may leave untaken before set requests to it are refused.
    static constexpr qint64 MaxSendBacklog = 17 * 1024 * 1024;
    // A printer may send thousands of names, lists and material strings a second:
    // materialListChanged, printerNameChanged and jsonAccepted for its values go out at
    // most once per interval each, the first at once, the rest when the interval ends;
    // readers then see the newest value (jsonAccepted carries the newest string).
    static constexpr int ValueSignalInterval_MS = 100;

    explicit PelluxNetworkLib(QQuickItem* parent = nullptr);
    ~PelluxNetworkLib() override;

    // True only means the request was sent; the outcome arrives as a signal. A list
    // change held back by the interval is told first, so that any materialListChanged
    // after the call is of a list received after the send.
    Q_INVOKABLE bool sendMaterialString(QString matString, int printerNumber = -1);
    // A name as getMaterialJSONList lists it removes the whole name it stands for.
    Q_INVOKABLE bool removeMaterial(QString materialName, int printerNumber = -1);
    Q_INVOKABLE bool removeMaterial(QString materialName, QString ip);
    // Blocks for at most PrinterConnectTimeout_MS.
    Q_INVOKABLE bool connectToPrinter(QString ip);
    Q_INVOKABLE bool disconnectFromPrinter(QString ip);
    Q_INVOKABLE QString getPrinterIP(int printerNumber = -1);
    // Empty on a cache miss, which also requests the list. At most MaxMaterialNames
    // names, each cut to MaxMaterialNameLength characters for showing.
    Q_INVOKABLE QJsonArray getMaterialJSONList(int printerNumber = -1);
    // The cached name up to its first NUL; "" on a miss, which also requests it.
    Q_INVOKABLE QString getPrinterName(int printerNumber = -1);

    int printerCount();
    bool getIsConnected();
    // The first live entry whose address text equals ip, or null.
    ZqNetRequester* findPrinterByIP(QString ip);
    void addPrinterRequester(ZqNetRequester* requester);
    // Disconnects and removes the live entry with the same peer address.
    bool removePrinterRequester(ZqNetRequester* requester);
    // Disconnects and removes the entry at index; an invalid index is ignored.
    void removePrinterRequester(int index);
    ZqNetConnectionManager* connectionManager() const { return manager; }

signals:
    bool isConnected(QString ip);
    void jsonAccepted(QByteArray value);
    void printerCountChanged(int count);
    void materialListChanged(QString ip);
    void printerNameChanged(QString ip);
    void materialDenied();
    void materialRemovalDenied();
    void attemptConnectionFailed();
    void disconnected();
    void deniedByInvalidKey();

private slots:
    void onDisconnected();
    void onConnected();
    void onValueUpdate(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value);
    void onCacheValueUpdate(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value);
    void onDeniedByHost(int requestID, ZqNetValueKeys::ZqNetValuesKey key);

private:
    // Callers hold the lock.
    ZqNetRequester* _liveEntry(int printerNumber) const;
    bool _sendSet(ZqNetValueKeys::ZqNetValuesKey key, const QByteArray& value, int printerNumber);
    // False when the request was not written.
    bool _sendSetTo(ZqNetRequester* requester, ZqNetValueKeys::ZqNetValuesKey key, const QByteArray& value);
    // The whole name of the material listed as shown (names are cut for the list).
    QString _listedMaterialName(ZqNetRequester* requester, const QString& shown);
    bool _hasRoomToSend(ZqNetRequester* requester);
    void _valueChanged(ZqNetValueKeys::ZqNetValuesKey key, const QByteArray& value);
    void _setConnected(bool connected, const QString& ip);
    // Printers whose list (or name) changed since the last signal of that kind; for
    // material strings, the newest one reported.
    struct ValueSignalGate {
        QVector<QPointer<ZqNetRequester>> pending;
        QByteArray newest;
        QTimer timer;
        QElapsedTimer sinceLast;
    };
    void _queueValueSignal(ValueSignalGate& gate, const QByteArray& value = QByteArray());
    void _emitValueSignals(ValueSignalGate& gate);

    ZqNetConnectionManager* manager;
    QList<ZqNetRequester*> printers;
    bool connected = false;
    // Never held while a signal is emitted or a connection is ended: a QML
    // handler that calls a getter would wait on it forever.
    QMutex listLock;
    ValueSignalGate listSignals;
    ValueSignalGate nameSignals;
    ValueSignalGate materialStringSignals;
};
