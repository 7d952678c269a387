#pragma once

#include "zqnetvaluekeys.h"

#include <QHostAddress>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

class ZqKeyValueSettings;

// Announces a server by broadcasting a short text datagram every 5000 ms on
// the wired interface, or else the wireless one. The switch lives in the
// settings store under "ZqUdpBroadCaster_Enabled" ("1"/"0", missing = "1").
class ZqUDPBroadCaster : public QObject {
    Q_OBJECT
public:
    static constexpr int BroadcastInterval_MS = 5000;
    static constexpr quint16 BroadcastUdpPort = 32899;

    // The store is not owned and must outlive the announcer.
    ZqUDPBroadCaster(ZqKeyValueSettings* settings, QString datagram, QObject* parent = nullptr);

    bool isEnabled() const { return enabled; }
    // The interfaces announced on, wired first, and the UDP port; tests point
    // them at "lo" and a port of their own.
    void setInterfaceNames(const QString& wired, const QString& wireless);
    void setPort(quint16 port);

    // The broadcast address of the first entry that has an IPv4 one; null
    // when none has.
    static QHostAddress broadcastAddress(const QList<QNetworkAddressEntry>& entries);

signals:
    // Declared for owners that relay values; never emitted.
    void valueUpdate(ZqNetValueKeys::ZqNetValuesKey key, QByteArray value);

public slots:
    void SetEnabled(bool enabled);
    void Enable();
    void Disable();

private slots:
    void BroadcastDatagrams();

private:
    void _announceOn(const QNetworkInterface& interface);

    QTimer broadcastTimer;
    QUdpSocket udpSocket;
    bool enabled = false;
    ZqKeyValueSettings* settings;
    QString datagram;
    QString wiredName;
    QString wirelessName;
    quint16 port = BroadcastUdpPort;
};
