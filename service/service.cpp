#include "service/service.h"

#include "app/platform.h"
#include "i18n/strings.h"
#include "status/snapshot.h"

#include <QCoreApplication>
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
    // Anyone may watch; what a watcher may change is asked of the system.
    const QString name = platform::serviceSocketName();
    QLocalServer::removeServer(name);
    server.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server.listen(name))
        warn(strings::phrase(values.language, strings::ServiceUnreachable)
                 .arg(name, server.errorString()));
}

void Service::welcome()
{
    while (QLocalSocket *watcher = server.nextPendingConnection()) {
        watchers.insert(watcher, {});
        connect(watcher, &QLocalSocket::readyRead, this, [this, watcher] { read(watcher); });
        connect(watcher, &QLocalSocket::disconnected, this, [this, watcher] {
            watchers.remove(watcher);
            watcher->deleteLater();
        });
    }
}

void Service::read(QLocalSocket *watcher)
{
    Watcher &w = watchers[watcher];
    w.buffer += watcher->readAll();
    QList<protocol::Message> messages;
    if (!protocol::takeMessages(w.buffer, &messages)) {
        watcher->disconnectFromServer();
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
        hello.insert(QStringLiteral("receiving"), receiver.statusSnapshot().reception.open);
        protocol::send(watcher, protocol::Hello, hello);
        protocol::send(watcher, protocol::Options, optionValues());
    }
    switch (m.kind) {
    case protocol::GetStatus:
        protocol::send(
            watcher, protocol::Status,
            {{QStringLiteral("snapshot"), status::serialize(receiver.statusSnapshot())}});
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
    default:
        break;
    }
}

// As Apply in the options window: the folder field's rule, the values
// stored, and the socket bound again.
void Service::applyOptions(QLocalSocket *watcher, const QVariantMap &request)
{
    const QString who = watchers.value(watcher).whoMayChange;
    if (!who.isEmpty()) {
        protocol::send(watcher, protocol::Refused, {{QStringLiteral("whoMayChange"), who}});
        return;
    }
    bool folderNotMade = false;
    values.filePath = options::appliedDataFolder(
        request.value(QStringLiteral("typedFolder")).toString(),
        request.value(QStringLiteral("filePath"), values.filePath).toString(), &folderNotMade);
    values.udpPort = quint16(request.value(QStringLiteral("udpPort")).toUInt());
    values.debug = request.value(QStringLiteral("debug")).toBool();
    values.language = request.value(QStringLiteral("language")).toInt() != 0 ? 1 : 0;
    settings->setValue(QLatin1String(options::filePathKey), values.filePath);
    settings->setValue(QLatin1String(options::udpPortKey), int(values.udpPort));
    settings->setValue(QLatin1String(options::debugKey), values.debug);
    settings->setValue(QLatin1String(options::languageKey), options::languageText(values.language));
    settings->sync();
    receiver.setDataFolder(values.filePath);
    receiver.setPort(values.udpPort);
    receiver.setDebug(values.debug);
    receiver.setLanguage(values.language);
    receiver.bindUdpSocket();
    QVariantMap applied = optionValues();
    applied.insert(QStringLiteral("folderNotMade"), folderNotMade);
    protocol::send(watcher, protocol::Options, applied);
}

void Service::applyAllowedSenders(QLocalSocket *watcher, const QString &text)
{
    const QString who = watchers.value(watcher).whoMayChange;
    QString bad;
    if (!who.isEmpty()) {
        protocol::send(watcher, protocol::Refused, {{QStringLiteral("whoMayChange"), who}});
    } else if (!receiver.setAllowedSenders(text, &bad)) {
        protocol::send(watcher, protocol::Refused, {{QStringLiteral("badEntry"), bad}});
    } else {
        values.allowedSenders = text.simplified();
        settings->setValue(QLatin1String(options::allowedSendersKey), values.allowedSenders);
        settings->sync();
        protocol::send(watcher, protocol::Options, optionValues());
    }
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
            {QStringLiteral("lastArrival"), receiver.lastArrivalMs()}};
}

void Service::tell(protocol::Kind kind, const QVariantMap &message)
{
    for (auto it = watchers.cbegin(); it != watchers.cend(); ++it) {
        if (it->greeted)
            protocol::send(it.key(), kind, message);
    }
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
