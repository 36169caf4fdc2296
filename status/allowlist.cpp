#include "status/allowlist.h"

#include <QRegularExpression>

namespace {

// An IPv4 address in all four parts: Qt would also take "10.1" for 10.0.0.1,
// which nobody writing an allow list means.
bool isDottedQuad(QStringView address)
{
    return address.contains(QLatin1Char(':')) || address.count(QLatin1Char('.')) == 3;
}

bool parseEntry(const QString &entry, QPair<QHostAddress, int> *subnet)
{
    const QStringView address = QStringView(entry).left(entry.indexOf(QLatin1Char('/')));
    if (!isDottedQuad(address))
        return false;
    if (entry.contains(QLatin1Char('/')))
        *subnet = QHostAddress::parseSubnet(entry);
    else if (subnet->first.setAddress(entry))
        subnet->second = subnet->first.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    return !subnet->first.isNull() && subnet->second >= 0;
}

// An IPv4 sender reaches a dual-stack socket as ::ffff:a.b.c.d.
QHostAddress plain(const QHostAddress &sender)
{
    bool mapped = false;
    const quint32 v4 = sender.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : sender;
}

} // namespace

bool AllowList::parse(const QString &text, QString *badEntry)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    QList<QPair<QHostAddress, int>> parsed;
    for (const QString &entry : text.split(separators, Qt::SkipEmptyParts)) {
        QPair<QHostAddress, int> subnet{QHostAddress(), -1};
        if (!parseEntry(entry, &subnet)) {
            if (badEntry)
                *badEntry = entry;
            return false;
        }
        parsed.append(subnet);
    }
    subnets = parsed;
    return true;
}

bool AllowList::allows(const QHostAddress &sender) const
{
    if (subnets.isEmpty())
        return true;
    const QHostAddress address = plain(sender);
    for (const auto &subnet : subnets) {
        if (address.isInSubnet(subnet))
            return true;
    }
    return false;
}
