#include "service/service.h"

#include "files/datafiles.h"
#include "i18n/strings.h"
#include "platform/platform.h"
#include "status/snapshot.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocalSocket>
#include <QSettings>

#include <algorithm>

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

// The watchers' sockets say they disconnect as the listener deletes them:
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
    QString problem;
    listener = platform::listenForWatchers(
        name, [this](QLocalSocket *watcher) { welcome(watcher); }, &problem);
    if (!listener)
        warn(strings::phrase(values.language, strings::ServiceUnreachable).arg(name, problem));
}

// Room is made for every newcomer as far as it can be without letting one
// account crowd out the others: it is let in, or turned away at once.
void Service::welcome(QLocalSocket *watcher)
{
    Watcher w;
    w.serial = ++watcherSerial;
    w.account = platform::peerAccount(*watcher);
    if (!w.account.isEmpty()) { // the system tells the account at once (Linux)
        w.whoMayChange = platform::whoMayChange(*watcher);
        w.mayChangeKnown = true;
    }
    if (!makeRoom(w.account, w.mayChangeKnown && w.whoMayChange.isEmpty())) {
        watcher->abort();
        watcher->deleteLater();
        return;
    }
    watchers.insert(watcher, w);
    watcher->setReadBufferSize(readLimit);
    connect(watcher, &QLocalSocket::readyRead, this, [this, watcher] { read(watcher); });
    connect(watcher, &QLocalSocket::disconnected, this, [this, watcher] { drop(watcher); });
    QTimer::singleShot(greetMs, watcher, [this, watcher] {
        if (const auto it = watchers.constFind(watcher); it != watchers.cend() && !it->greeted)
            drop(watcher);
    });
}

// The account's own silent connections make way first, then anyone's silent
// ones; one who may change the service also pushes out the newest watcher
// that may not. False when no room can be made.
bool Service::makeRoom(const QString &account, bool changer)
{
    const auto sameAccount = [&account](const Watcher &w) { return w.account == account; };
    if (count(sameAccount) >= accountLimit) {
        QLocalSocket *silent = oldestSilent(sameAccount);
        if (!silent)
            return false;
        drop(silent);
    }
    const auto others = [](const Watcher &w) {
        return !w.mayChangeKnown || !w.whoMayChange.isEmpty();
    };
    if (!changer && count(others) >= watcherLimit - keptForChangers) {
        QLocalSocket *silent = oldestSilent(others);
        if (!silent)
            return false;
        drop(silent);
    }
    if (watchers.size() < watcherLimit)
        return true;
    QLocalSocket *leaving = oldestSilent([](const Watcher &) { return true; });
    if (!leaving && changer) {
        qint64 newest = 0;
        for (auto it = watchers.cbegin(); it != watchers.cend(); ++it) {
            if (others(*it) && it->serial > newest) {
                newest = it->serial;
                leaving = it.key();
            }
        }
    }
    if (!leaving)
        return false;
    drop(leaving);
    return true;
}

QLocalSocket *Service::oldestSilent(const std::function<bool(const Watcher &)> &among) const
{
    QLocalSocket *oldest = nullptr;
    qint64 serial = 0;
    for (auto it = watchers.cbegin(); it != watchers.cend(); ++it) {
        // One whose first words are there already is about to speak.
        if (!it->greeted && it.key()->bytesAvailable() == 0 && among(*it) &&
            (!oldest || it->serial < serial)) {
            oldest = it.key();
            serial = it->serial;
        }
    }
    return oldest;
}

int Service::count(const std::function<bool(const Watcher &)> &which) const
{
    return int(std::count_if(watchers.cbegin(), watchers.cend(), which));
}

// What is not a request of this protocol, or comes from another machine,
// ends the connection. A request may end it too (its answers left unread),
// and the requests after it then go with it.
void Service::read(QLocalSocket *watcher)
{
    const auto it = watchers.find(watcher);
    if (it == watchers.end())
        return;
    it->buffer += watcher->readAll();
    QList<protocol::Message> messages;
    if (!protocol::takeMessages(it->buffer, &messages, protocol::largestRequest) ||
        platform::isRemotePeer(*watcher)) {
        drop(watcher);
        return;
    }
    for (const protocol::Message &m : messages) {
        if (!watchers.contains(watcher))
            return;
        handle(watcher, m);
    }
}

void Service::handle(QLocalSocket *watcher, const protocol::Message &m)
{
    const auto it = watchers.constFind(watcher);
    if (it == watchers.cend())
        return;
    if (!it->greeted)
        greet(watcher);
    if (!watchers.contains(watcher))
        return;
    switch (m.kind) {
    case protocol::GetStatus: {
        // A status costs: one in a while for each watcher.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (now - watchers.value(watcher).lastStatusMs < statusPauseMs)
            break;
        watchers[watcher].lastStatusMs = now;
        const QByteArray snapshot =
            status::serialize(receiver.statusSnapshot(), protocol::largestAnswer - 1024);
        // Taking the snapshot may have told the watchers of a new day, and
        // let this one go.
        if (watchers.contains(watcher))
            send(watcher, protocol::Status, {{QStringLiteral("snapshot"), snapshot}});
        break;
    }
    case protocol::GetOptions:
        send(watcher, protocol::Options, optionValues());
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

// The first message of a watcher: the system can say who the peer is only
// once it has sent something (Windows). An account that now holds more than
// its share goes.
void Service::greet(QLocalSocket *watcher)
{
    Watcher &w = watchers[watcher];
    w.greeted = true;
    if (!w.mayChangeKnown) {
        w.account = platform::peerAccount(*watcher);
        w.whoMayChange = platform::whoMayChange(*watcher);
        w.mayChangeKnown = true;
        const QString account = w.account;
        const bool changer = w.whoMayChange.isEmpty();
        if (count([&account](const Watcher &o) { return o.account == account; }) > accountLimit ||
            (!changer && count([](const Watcher &o) {
                             return o.mayChangeKnown && !o.whoMayChange.isEmpty();
                         }) > watcherLimit - keptForChangers)) {
            drop(watcher);
            return;
        }
    }
    QVariantMap hello = today();
    hello.insert(QStringLiteral("version"), protocol::version);
    hello.insert(QStringLiteral("whoMayChange"), w.whoMayChange);
    if (send(watcher, protocol::Hello, hello))
        send(watcher, protocol::Options, optionValues());
}

bool Service::mayChange(QLocalSocket *watcher)
{
    const QString who = watchers.value(watcher).whoMayChange;
    if (!who.isEmpty())
        send(watcher, protocol::Refused, {{QStringLiteral("whoMayChange"), who}});
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
    if (watchers.contains(watcher)) // binding may have told all, and let it go
        send(watcher, protocol::Options, applied);
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
        send(watcher, protocol::Refused, {{QStringLiteral("badEntry"), bad}});
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
// service its memory: answers count as much as what all are told.
bool Service::send(QLocalSocket *watcher, protocol::Kind kind, const QVariantMap &message)
{
    if (watcher->bytesToWrite() > unreadLimit) {
        drop(watcher);
        return false;
    }
    protocol::send(watcher, kind, message);
    return true;
}

void Service::tell(protocol::Kind kind, const QVariantMap &message, QLocalSocket *except)
{
    for (QLocalSocket *watcher : watchers.keys()) { // a copy: sending may let one go
        const auto it = watchers.constFind(watcher);
        if (it != watchers.cend() && it->greeted && watcher != except)
            send(watcher, kind, message);
    }
}

// Out of the table first, so that nothing said while it goes reaches it.
void Service::drop(QLocalSocket *watcher)
{
    if (!watchers.remove(watcher))
        return;
    watcher->disconnect(this);
    watcher->abort();
    watcher->deleteLater();
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
