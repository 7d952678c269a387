#ifndef GELV_LOOPBACKADDRESS_H
#define GELV_LOOPBACKADDRESS_H

// The printer port is fixed, so test runs side by side (two checkouts, a developer's run
// beside CI) must differ in the address. All of 127.0.0.0/8 is loopback: each listener
// takes one picked at random from 127.1.0.1 to 127.254.255.254, checked free by binding it.
#include <QHostAddress>
#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <QTcpServer>

// A loopback address on which nothing listens at that port, never the same twice in
// one process; empty when none could be bound.
inline QString freeLoopbackAddress(quint16 port = 32889)
{
    static QSet<quint32> given;
    QRandomGenerator* random = QRandomGenerator::global();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const quint32 ip = 127u << 24 | random->bounded(1u, 255u) << 16 | random->bounded(256u) << 8
            | random->bounded(1u, 255u);
        QTcpServer probe;
        if (given.contains(ip) || !probe.listen(QHostAddress(ip), port))
            continue;
        given.insert(ip);
        return QHostAddress(ip).toString();
    }
    return QString();
}

#endif
