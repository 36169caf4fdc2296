#include "reception/localaddresses.h"

#include <QNetworkInterface>

#include <algorithm>

namespace {

QStringList sorted(const QSet<QHostAddress> &addresses)
{
    QStringList texts;
    for (const QHostAddress &a : addresses)
        texts << a.toString();
    std::sort(texts.begin(), texts.end());
    return texts;
}

} // namespace

QSet<QHostAddress> LocalAddresses::current()
{
    return reachable(QNetworkInterface::allAddresses());
}

QSet<QHostAddress> LocalAddresses::reachable(const QList<QHostAddress> &all)
{
    QSet<QHostAddress> kept;
    for (const QHostAddress &a : all) {
        // Scales are set to send to an IPv4 address; IPv6's temporary
        // addresses come and go by themselves.
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() && !a.isLinkLocal())
            kept.insert(a);
    }
    return kept;
}

void LocalAddresses::start(const QSet<QHostAddress> &now)
{
    known = now;
    gone.clear();
    came.clear();
}

LocalAddresses::Change LocalAddresses::update(const QSet<QHostAddress> &now)
{
    // Either may come first; one that is back, or went again, changed
    // nothing for the scales.
    gone += known - now;
    gone -= now;
    came += now - known;
    came &= now;
    known = now;
    if (gone.isEmpty() || came.isEmpty())
        return {};
    return {sorted(std::exchange(gone, {})), sorted(std::exchange(came, {}))};
}
