#include "service/serviceclient.h"

#include "platform/platform.h"

#include <QDeadlineTimer>

ServiceClient::ServiceClient()
{
    retry.setInterval(retryMs);
    connect(&retry, &QTimer::timeout, this, &ServiceClient::tryConnecting);
    connect(&socket, &QLocalSocket::connected, this, &ServiceClient::ask);
    connect(&socket, &QLocalSocket::readyRead, this, &ServiceClient::read);
    connect(&socket, &QLocalSocket::disconnected, this, &ServiceClient::lost);
    connect(&socket, &QLocalSocket::errorOccurred, this, [this] {
        if (socket.state() == QLocalSocket::UnconnectedState)
            lost();
    });
}

// The socket says it disconnects as it goes: nobody is left to hear it.
ServiceClient::~ServiceClient()
{
    socket.disconnect(this);
}

bool ServiceClient::connectNow(int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    tryConnecting();
    if (socket.state() == QLocalSocket::ConnectedState ||
        socket.waitForConnected(int(deadline.remainingTime()))) {
        while (!greeted && socket.waitForReadyRead(int(deadline.remainingTime())))
            ;
    }
    return greeted;
}

void ServiceClient::tryConnecting()
{
    retry.start();
    if (socket.state() != QLocalSocket::UnconnectedState)
        return;
    asked = false;
    platform::connectToService(socket);
    // A socket given a connected pipe (Windows) says nothing of it.
    if (socket.state() == QLocalSocket::ConnectedState)
        ask();
}

// As the service said last, in its hello or since.
bool ServiceClient::serviceReceiving() const
{
    return today.value(QStringLiteral("receiving")).toBool();
}

QString ServiceClient::whoMayChange() const
{
    return hello.value(QStringLiteral("whoMayChange")).toString();
}

// The first message: the service answers with its hello and its options.
void ServiceClient::ask()
{
    if (!std::exchange(asked, true))
        protocol::send(&socket, protocol::GetOptions);
}

bool ServiceClient::giveSocket(qintptr udpSocket)
{
    // The service takes a socket only from a user who may change it.
    return greeted && whoMayChange().isEmpty() &&
           platform::giveSocket(udpSocket, platform::serviceSocketName(), giveMs);
}

void ServiceClient::portFreed()
{
    if (greeted) {
        protocol::send(&socket, protocol::PortFreed);
        socket.flush();
    }
}

void ServiceClient::requestStatus()
{
    if (greeted)
        protocol::send(&socket, protocol::GetStatus);
}

void ServiceClient::applyOptions(const QVariantMap &request)
{
    if (greeted)
        protocol::send(&socket, protocol::ApplyOptions, request);
}

void ServiceClient::applyAllowedSenders(const QString &text)
{
    if (greeted)
        protocol::send(&socket, protocol::ApplyAllowedSenders, {{QStringLiteral("text"), text}});
}

void ServiceClient::read()
{
    buffer += socket.readAll();
    QList<protocol::Message> messages;
    if (!protocol::takeMessages(buffer, &messages, protocol::largestAnswer)) {
        socket.abort();
        return;
    }
    // A message may end the connection (another version): the rest go with it.
    for (const protocol::Message &m : messages) {
        if (socket.state() != QLocalSocket::ConnectedState)
            break;
        handle(m);
    }
}

void ServiceClient::handle(const protocol::Message &m)
{
    switch (m.kind) {
    case protocol::Hello:
        if (m.values.value(QStringLiteral("version")).toInt() != protocol::version) {
            socket.abort();
            return;
        }
        hello = today = m.values;
        break;
    case protocol::Options:
        if (hello.isEmpty()) // none accepted
            return;
        serviceOptions = m.values;
        // The options follow the hello: only then is everything known.
        if (!std::exchange(greeted, true)) {
            retry.stop();
            Q_EMIT connected();
        }
        Q_EMIT optionsReceived(m.values);
        break;
    case protocol::Arrival:
        today = m.values;
        Q_EMIT arrived(
            QDateTime::fromMSecsSinceEpoch(m.values.value(QStringLiteral("time")).toLongLong()));
        Q_EMIT todayChanged();
        break;
    case protocol::Today:
        today = m.values;
        Q_EMIT todayChanged();
        break;
    case protocol::Warning:
        Q_EMIT warning(m.values.value(QStringLiteral("text")).toString());
        break;
    case protocol::Status: {
        status::Snapshot snapshot;
        if (status::deserialize(m.values.value(QStringLiteral("snapshot")).toByteArray(),
                                &snapshot))
            Q_EMIT statusReceived(snapshot);
        break;
    }
    case protocol::Refused:
        Q_EMIT refused(m.values);
        break;
    default:
        break;
    }
}

void ServiceClient::lost()
{
    buffer.clear();
    hello.clear();
    retry.start();
    if (std::exchange(greeted, false))
        Q_EMIT disconnected();
}
