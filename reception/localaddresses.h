#pragma once

#include <QHostAddress>
#include <QList>
#include <QSet>
#include <QString>

// This computer's own addresses, followed so that a change of the address
// scales send to (a renewed lease, a moved cable) is told at once: they go
// on sending to the old one, and nothing reaches the program.
class LocalAddresses
{
public:
    // The addresses a scale may send to: IPv4, not the loopback's, not
    // link-local.
    static QSet<QHostAddress> current();
    static QSet<QHostAddress> reachable(const QList<QHostAddress> &all);

    void start(const QSet<QHostAddress> &now);
    // The addresses as they are now. When an address went and another came
    // since start() or the last change told (a lease is renewed in two
    // steps, in either order), the old and the new, sorted; else both empty.
    struct Change
    {
        QStringList gone;
        QStringList came;
    };
    Change update(const QSet<QHostAddress> &now);

private:
    QSet<QHostAddress> known;
    // Since the last change told.
    QSet<QHostAddress> gone;
    QSet<QHostAddress> came;
};
