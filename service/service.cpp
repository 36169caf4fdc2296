#include "service/service.h"

#include "files/datafiles.h"
#include "i18n/strings.h"
#include "platform/platform.h"
#include "status/snapshot.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocalSocket>
#include <QSettings>

Service::Service() : settings(options::openStore())
{
    values = options::load(*settings, platform::serviceDataFolder());
    connect(&receiver, &Receiver::warning, this, &Service::warn);
    connect(&receiver, &Receiver::arrived, this, [this](const QDateTime &time) {
        QVariantMap arrival = today();
        arrival.insert(QStringLiteral("time"), time.toMSecsSinceEpoch());
        tell(protocol::Arrival, arrival);
    });
    connect(&receiver, &Receiver::todayChanged, this, [this] { tell(protocol::Today, today()); });
    connect(&server, &QLocalServer::newConnection, this, &Service::welcome);
    // A port taken by another program (a tray program, on Windows) may come
    // free: the watchers hear when the service has it.
    bindRetry.setInterval(bindRetryMs);
    connect(&bindRetry, &QTimer::timeout, this, [this] {
        if (receiver.isReceiving() || receiver.bindUdpSocket(true))
            receiving();
    });
    // At the end of a Windows session, or on a stop request, the event loop
    // ends: what was read is stored before the process goes.
    connect(qApp, &QCoreApplication::aboutToQuit, &receiver, &Receiver::storeAndClose);
}

// The watchers' sockets say they disconnect as the server deletes them:
// nobody is left to hear it.
Service::~Service()
{
    for (QLocalSocket *watcher : watchers.keys())
        watcher->disconnect(this);
}

void Service::start()
{
    receiver.setDataFolder(values.filePath);
    receiver.setPort(values.udpPort);
    receiver.setDebug(values.debug);
    receiver.setLanguage(values.language);
    receiver.useStoredAllowedSenders(values.allowedSenders);
    receiver.setFileCounter();
    receiver.createUdpSocket();
    if (!receiver.isReceiving())
        bindRetry.start();
    // Anyone may watch; what a watcher may change is asked of the system.
    const QString name = platform::serviceSocketName();
    inbox = platform::receiveSockets(
        name, [this](qintptr socket, quint16 port) { return takeSocket(socket, port); });
    QLocalServer::removeServer(name);
    server.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server.listen(name))
        warn(strings::phrase(values.language, strings::ServiceUnreachable)
                 .arg(name, server.errorString()));
}

// No watcher may hold the service back: beyond the limit, one is let go.
void Service::welcome()
{
    while (QLocalSocket *watcher = server.nextPendingConnection()) {
        if (watchers.size() >= watcherLimit) {
            watcher->abort();
            watcher->deleteLater();
            continue;
        }
        watchers.insert(watcher, {});
        connect(watcher, &QLocalSocket::readyRead, this, [this, watcher] { read(watcher); });
        connect(watcher, &QLocalSocket::disconnected, this, [this, watcher] {
            watchers.remove(watcher);
            watcher->deleteLater();
        });
    }
}

// What is not a request of this protocol, or comes from another machine,
// ends the connection.
void Service::read(QLocalSocket *watcher)
{
    Watcher &w = watchers[watcher];
    w.buffer += watcher->readAll();
    QList<protocol::Message> messages;
    if (!protocol::takeMessages(w.buffer, &messages, protocol::largestRequest) ||
        platform::isRemotePeer(*watcher)) {
        watcher->abort();
        return;
    }
    for (const protocol::Message &m : messages)
        handle(watcher, m);
}

void Service::handle(QLocalSocket *watcher, const protocol::Message &m)
{
    Watcher &w = watchers[watcher];
    if (!w.greeted) {
        // The system can say who the peer is only once it has sent something.
        w.greeted = true;
        w.whoMayChange = platform::whoMayChange(*watcher);
        QVariantMap hello = today();
        hello.insert(QStringLiteral("version"), protocol::version);
        hello.insert(QStringLiteral("whoMayChange"), w.whoMayChange);
        protocol::send(watcher, protocol::Hello, hello);
        protocol::send(watcher, protocol::Options, optionValues());
    }
    switch (m.kind) {
    case protocol::GetStatus:
        // A status costs: one in a while for each watcher.
        if (const qint64 now = QDateTime::currentMSecsSinceEpoch();
            now - w.lastStatusMs >= statusPauseMs) {
            w.lastStatusMs = now;
            protocol::send(
                watcher, protocol::Status,
                {{QStringLiteral("snapshot"), status::serialize(receiver.statusSnapshot())}});
        }
        break;
    case protocol::GetOptions:
        protocol::send(watcher, protocol::Options, optionValues());
        break;
    case protocol::ApplyOptions:
        applyOptions(watcher, m.values);
        break;
    case protocol::ApplyAllowedSenders:
        applyAllowedSenders(watcher, m.values.value(QStringLiteral("text")).toString());
        break;
    case protocol::PortFreed:
        // Anyone may ask the service to try its port: it would anyway.
        if (!receiver.isReceiving() && receiver.bindUdpSocket(true))
            receiving();
        break;
    default:
        break;
    }
}

bool Service::mayChange(QLocalSocket *watcher)
{
    const QString who = watchers.value(watcher).whoMayChange;
    if (!who.isEmpty())
        protocol::send(watcher, protocol::Refused, {{QStringLiteral("whoMayChange"), who}});
    return who.isEmpty();
}

// As Apply in the options window: the folder field's rule, the values stored,
// and the port bound again. What a request leaves out stays as it is. The
// service writes into its data folder itself: one it cannot write in (a home
// hidden from it, a drive of the user's) is not taken.
void Service::applyOptions(QLocalSocket *watcher, const QVariantMap &request)
{
    if (!mayChange(watcher))
        return;
    const auto asked = [&request](const char *key, const QVariant &current) {
        return request.value(QLatin1String(key), current);
    };
    const QString chosen = asked("filePath", values.filePath).toString();
    bool folderNotMade = false;
    QString folder =
        options::appliedDataFolder(asked("typedFolder", chosen).toString(), chosen, &folderNotMade);
    if (folder != values.filePath && !datafiles::isWritableFolder(folder)) {
        folder = values.filePath;
        folderNotMade = true;
    }
    values.filePath = folder;
    values.udpPort = quint16(asked("udpPort", values.udpPort).toUInt());
    values.debug = asked("debug", values.debug).toBool();
    values.language = asked("language", values.language).toInt() != 0 ? 1 : 0;
    settings->setValue(QLatin1String(options::filePathKey), values.filePath);
    settings->setValue(QLatin1String(options::udpPortKey), int(values.udpPort));
    settings->setValue(QLatin1String(options::debugKey), values.debug);
    settings->setValue(QLatin1String(options::languageKey), options::languageText(values.language));
    settings->sync();
    receiver.setDataFolder(values.filePath);
    receiver.setPort(values.udpPort);
    receiver.setDebug(values.debug);
    receiver.setLanguage(values.language);
    if (receiver.bindUdpSocket())
        bindRetry.stop();
    else
        bindRetry.start();
    // Every watcher shows the options in force, and has them before the day
    // that may tell a tray program the service now receives on its port.
    QVariantMap applied = optionValues();
    tell(protocol::Options, applied, watcher);
    applied.insert(QStringLiteral("folderNotMade"), folderNotMade);
    protocol::send(watcher, protocol::Options, applied);
    tell(protocol::Today, today());
}

// A tray program that received on the service's port gives it its socket:
// taken while the service has none, and only on the port in force.
bool Service::takeSocket(qintptr socket, quint16 port)
{
    if (port != values.udpPort || !receiver.adoptSocket(socket))
        return false;
    receiving();
    return true;
}

// The service has its port: the watchers hear it.
void Service::receiving()
{
    bindRetry.stop();
    tell(protocol::Today, today());
}

void Service::applyAllowedSenders(QLocalSocket *watcher, const QString &text)
{
    QString bad;
    if (!mayChange(watcher))
        return;
    if (!receiver.setAllowedSenders(text, &bad)) {
        protocol::send(watcher, protocol::Refused, {{QStringLiteral("badEntry"), bad}});
        return;
    }
    values.allowedSenders = text.simplified();
    settings->setValue(QLatin1String(options::allowedSendersKey), values.allowedSenders);
    settings->sync();
    tell(protocol::Options, optionValues());
}

QVariantMap Service::optionValues() const
{
    return {{QStringLiteral("filePath"), values.filePath},
            {QStringLiteral("udpPort"), values.udpPort},
            {QStringLiteral("debug"), values.debug},
            {QStringLiteral("language"), values.language},
            {QStringLiteral("allowedSenders"), values.allowedSenders}};
}

QVariantMap Service::today() const
{
    return {{QStringLiteral("recordsToday"), receiver.recordsToday()},
            {QStringLiteral("lastArrival"), receiver.lastArrivalMs()},
            {QStringLiteral("receiving"), receiver.isReceiving()}};
}

// A watcher that leaves what it is told unread is let go before it costs the
// service its memory.
void Service::tell(protocol::Kind kind, const QVariantMap &message, QLocalSocket *except)
{
    QList<QLocalSocket *> slow;
    for (auto it = watchers.cbegin(); it != watchers.cend(); ++it) {
        if (!it->greeted || it.key() == except)
            continue;
        if (it.key()->bytesToWrite() > unreadLimit)
            slow.append(it.key());
        else
            protocol::send(it.key(), kind, message);
    }
    for (QLocalSocket *watcher : slow) // which takes it out of `watchers`
        watcher->abort();
}

void Service::warn(const QString &text)
{
    platform::logWarning(text);
    tell(protocol::Warning, {{QStringLiteral("text"), text}});
}

int runService()
{
    return platform::runAsService([] {
        platform::handleTerminationRequests();
        Service service;
        service.start();
        return QCoreApplication::exec();
    });
}
