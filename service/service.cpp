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

namespace {

QString defaultDataFolder()
{
    const QString folder = platform::serviceDataFolder();
    return folder.isEmpty() ? options::defaultDataFolder() : folder;
}

} // namespace

Service::Service()
    : settings(options::openStore()),
      reception(*settings, options::load(*settings, defaultDataFolder()), true)
{
    connect(&reception, &Reception::warning, this, &Service::warn);
    connect(&reception, &Reception::arrived, this, [this](const QDateTime &time) {
        tell(protocol::Arrival, protocol::ArrivalTime{time.toMSecsSinceEpoch(), today()}.toMap());
    });
    connect(&reception, &Reception::todayChanged, this,
            [this] { tell(protocol::Today, today().toMap()); });
    connect(&reception, &Reception::dayRead, this, &Service::answerDay);
    // A port taken by another program (a tray program, on Windows) may come
    // free: the watchers hear when the service has it.
    bindRetry.setInterval(bindRetryMs);
    connect(&bindRetry, &QTimer::timeout, this, [this] {
        if (reception.isReceiving() || reception.bind(true))
            receiving();
    });
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
    reception.setFileCounter();
    reception.createUdpSocket();
    if (!reception.isReceiving())
        bindRetry.start();
    // Anyone may watch; what a watcher may change is asked of the system.
    const QString name = platform::serviceSocketName();
    inbox = platform::receiveSockets(
        name, [this](qintptr socket, quint16 port) { return takeSocket(socket, port); });
    QString problem;
    listener = platform::listenForWatchers(
        name, [this](QLocalSocket *watcher) { welcome(watcher); }, &problem);
    if (!listener)
        warn(strings::phrase(reception.options().language, strings::ServiceUnreachable)
                 .arg(name, problem));
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
    // A watcher asks for a page of records once it has the one before: two
    // at once are only meant to keep the service reading.
    const auto pages = [&messages] {
        return std::count_if(messages.cbegin(), messages.cend(), [](const protocol::Message &m) {
            return m.kind == protocol::GetDayRecords;
        });
    };
    if (!protocol::takeMessages(it->buffer, &messages, protocol::largestRequest) ||
        platform::isRemotePeer(*watcher) || pages() > 1) {
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
        const protocol::StatusBytes status{
            status::serialize(reception.snapshot(), protocol::largestAnswer - 1024)};
        // Taking the snapshot may have told the watchers of a new day, and
        // let this one go.
        if (watchers.contains(watcher))
            send(watcher, protocol::Status, status.toMap());
        break;
    }
    case protocol::GetOptions:
        send(watcher, protocol::Options, settingsInForce().toMap());
        break;
    case protocol::ApplyOptions:
        applyOptions(watcher, m.values);
        break;
    case protocol::ApplyWatching:
        applyWatching(watcher, protocol::Watching::fromMap(m.values));
        break;
    case protocol::GetDay:
        askDay(watcher, protocol::DayAsked::fromMap(m.values));
        break;
    case protocol::GetDayRecords:
        sendRecords(watcher, protocol::DayAsked::fromMap(m.values));
        break;
    case protocol::PortFreed:
        // Anyone may ask the service to try its port: it would anyway.
        if (!reception.isReceiving() && reception.bind(true))
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
    const protocol::Greeting hello{protocol::version, w.whoMayChange, today()};
    if (send(watcher, protocol::Hello, hello.toMap()))
        send(watcher, protocol::Options, settingsInForce().toMap());
}

bool Service::mayChange(QLocalSocket *watcher)
{
    const QString who = watchers.value(watcher).whoMayChange;
    if (!who.isEmpty())
        send(watcher, protocol::Refused, protocol::Refusal{who, {}}.toMap());
    return who.isEmpty();
}

// As Apply in the options window (what a request leaves out stays as it is),
// but a data folder the service cannot write in (a home hidden from it, a
// drive of the user's) is not taken.
void Service::applyOptions(QLocalSocket *watcher, const QVariantMap &request)
{
    if (!mayChange(watcher))
        return;
    const protocol::Settings asked = protocol::Settings::fromMap(request, settingsInForce());
    options::Values values = reception.options();
    asked.applyTo(values);
    const Reception::Change change = reception.applyNow(values, asked.typedFolder);
    if (reception.isReceiving())
        bindRetry.stop();
    else
        bindRetry.start();
    // Every watcher shows the options in force, and has them before the day
    // that may tell a tray program the service now receives on its port.
    protocol::Settings applied = settingsInForce();
    tell(protocol::Options, applied.toMap(), watcher);
    applied.folderNotMade = change == Reception::FolderNotMade;
    if (watchers.contains(watcher)) // binding may have told all, and let it go
        send(watcher, protocol::Options, applied.toMap());
    tell(protocol::Today, today().toMap());
}

// Any watcher may see a day's figures, as it sees the status. One day is
// read at a time, in steps between which the service goes on receiving;
// those who asked for it hear it together.
void Service::askDay(QLocalSocket *watcher, const protocol::DayAsked &asked)
{
    const QDate date = QDate::fromJulianDay(asked.date);
    if (!date.isValid())
        return;
    Watcher &w = watchers[watcher];
    w.dayAsked = date;
    w.daySerial = asked.serial;
    w.dayOrder = ++dayOrder;
    readNextDay();
}

// The day asked for first, by whoever still waits.
void Service::readNextDay()
{
    if (dayBeingRead.isValid())
        return;
    qint64 first = 0;
    for (const Watcher &w : std::as_const(watchers)) {
        if (w.dayAsked.isValid() && (first == 0 || w.dayOrder < first)) {
            first = w.dayOrder;
            dayBeingRead = w.dayAsked;
        }
    }
    if (dayBeingRead.isValid())
        reception.requestDay(dayBeingRead, false);
}

void Service::answerDay(const status::DayAnswer &answer)
{
    const QByteArray report = status::serializeDay(answer.report);
    for (QLocalSocket *watcher : watchers.keys()) { // a copy: sending may let one go
        const auto it = watchers.find(watcher);
        if (it == watchers.end() || it->dayAsked != answer.date)
            continue;
        it->dayAsked = QDate();
        send(watcher, protocol::DayFigures, protocol::Figures{it->daySerial, report}.toMap());
    }
    dayBeingRead = QDate();
    readNextDay();
}

// The records themselves only to those who may change the service: its
// data folder may be closed to the others. A page is read when asked for,
// and the next is asked for once it has come, so that what waits unread
// stays within a page.
void Service::sendRecords(QLocalSocket *watcher, const protocol::DayAsked &asked)
{
    const QDate date = QDate::fromJulianDay(asked.date);
    protocol::RecordPage page{asked.serial, 0, 0, true, {}, watchers.value(watcher).whoMayChange};
    if (date.isValid() && page.whoMayRead.isEmpty()) {
        status::DayCursor cursor{asked.file, asked.offset, false};
        page.lines =
            status::readRecordPage(datafiles::dateFolderPath(reception.options().filePath, date),
                                   cursor, protocol::recordPageBytes);
        page.file = cursor.file;
        page.offset = cursor.offset;
        page.done = cursor.done;
    }
    send(watcher, protocol::DayRecords, page.toMap());
}

// A tray program that received on the service's port gives it its socket:
// taken while the service has none, and only on the port in force.
bool Service::takeSocket(qintptr socket, quint16 port)
{
    if (port != reception.options().udpPort || !reception.adoptSocket(socket))
        return false;
    receiving();
    return true;
}

// The service has its port: the watchers hear it.
void Service::receiving()
{
    bindRetry.stop();
    tell(protocol::Today, today().toMap());
}

void Service::applyWatching(QLocalSocket *watcher, const protocol::Watching &asked)
{
    QString bad;
    if (!mayChange(watcher))
        return;
    if (!reception.applyWatchingNow(asked.allowedSenders, asked.silentScaleMinutes, &bad)) {
        send(watcher, protocol::Refused, protocol::Refusal{{}, bad}.toMap());
        return;
    }
    tell(protocol::Options, settingsInForce().toMap());
}

protocol::Settings Service::settingsInForce() const
{
    return protocol::Settings::of(reception.options());
}

protocol::Day Service::today() const
{
    return {reception.recordsToday(), reception.lastArrivalMs(), reception.isReceiving()};
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
    tell(protocol::Warning, protocol::Text{text}.toMap());
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
