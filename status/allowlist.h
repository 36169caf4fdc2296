#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// The senders whose datagrams are taken: IPv4 and IPv6 addresses and subnets
// such as 192.168.1.0/24, written separated by blanks or commas. An empty
// list takes every sender.
class AllowList
{
public:
    // False, with the first entry that is neither an address nor a subnet
    // in `badEntry`, when `text` does not parse; the list is then unchanged.
    bool parse(const QString &text, QString *badEntry = nullptr);
    bool allows(const QHostAddress &sender) const;
    bool isEmpty() const { return subnets.isEmpty(); }

private:
    QList<QPair<QHostAddress, int>> subnets;
};
