#include "service/serviceclient.h"

#include "files/datafiles.h"
#include "i18n/strings.h"
#include "platform/platform.h"

#include <QDeadlineTimer>
#include <QFileInfo>

ServiceClient::ServiceClient()
{
    retry.setInterval(retryMs);
    connect(&retry, &QTimer::timeout, this, &ServiceClient::tryConnecting);
    connect(&socketFolder, &QFileSystemWatcher::directoryChanged, this, [this] {
        retry.setInterval(retryMs);
        tryConnecting();
    });
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
    if (socket.state() != QLocalSocket::UnconnectedState)
        return;
    if (waitForSocketFile()) {
        retry.stop();
        return;
    }
    retry.start();
    asked = false;
    platform::connectToService(socket);
    // A socket given a connected pipe (Windows) says nothing of it.
    if (socket.state() == QLocalSocket::ConnectedState)
        ask();
    else if (socketFolder.directories().isEmpty())
        // Nothing says when the service starts (a pipe is no file): the
        // tries grow further apart, so that a program at rest stays at rest.
        retry.setInterval(qMin(retry.interval() * 2, retryLongestMs));
}

// True when the service's socket is a file that is not there and its folder
// (or, while that is missing too, the folder above) is watched: the service
// is not running, and the watch says when it may be. A socket that is there
// but refuses (a service busy or gone without removing it) is tried again,
// less and less often (lost()).
bool ServiceClient::waitForSocketFile()
{
    const QString folder = platform::serviceSocketFolder();
    if (folder.isEmpty())
        return false;
    const QString watched = QFileInfo::exists(folder) ? folder : QFileInfo(folder).path();
    const QStringList before = socketFolder.directories();
    if (before != QStringList{watched}) {
        if (!before.isEmpty())
            socketFolder.removePaths(before);
        socketFolder.addPath(watched);
    }
    return socketFolder.directories() == QStringList{watched} &&
           !QFileInfo::exists(platform::serviceSocketName());
}

// The first message: the service answers with its hello and its options.
void ServiceClient::ask()
{
    if (!std::exchange(asked, true))
        protocol::send(&socket, protocol::GetOptions);
}

options::Values ServiceClient::options() const
{
    options::Values v;
    settings.applyTo(v);
    v.allowedSenders = settings.allowedSenders;
    v.silentScaleMinutes = settings.silentScaleMinutes;
    return v;
}

QString ServiceClient::optionsNote(int language) const
{
    const QString who = whoMayChange();
    return strings::phrase(language, strings::ServiceOptions) +
           (who.isEmpty() ? QString() : QLatin1Char('\n') + whoMayChangeText(language, who));
}

QString ServiceClient::source(int language) const
{
    return strings::phrase(language, greeted ? strings::ServiceReceives : strings::ServiceGone);
}

void ServiceClient::apply(const options::Values &asked_, const QString &typedFolder)
{
    if (!greeted)
        return;
    // The allowed senders and the silence are changed on their own: these
    // stay as in force.
    protocol::Settings request = protocol::Settings::of(asked_);
    request.allowedSenders = settings.allowedSenders;
    request.silentScaleMinutes = settings.silentScaleMinutes;
    request.typedFolder = typedFolder;
    protocol::send(&socket, protocol::ApplyOptions, request);
}

void ServiceClient::applyWatching(const QString &allowedSenders, int silentScaleMinutes)
{
    if (greeted)
        protocol::send(&socket, protocol::ApplyWatching,
                       protocol::Watching{allowedSenders, silentScaleMinutes});
}

void ServiceClient::requestStatus()
{
    if (greeted)
        protocol::send(&socket, protocol::GetStatus);
}

// Answered later either way, as the service would be.
void ServiceClient::requestDay(const QDate &date, bool withRecords)
{
    dayAnswer = status::DayAnswer{date, {}, withRecords, {}, {}};
    ++daySerial;
    if (!greeted) {
        dayWait = DayWait::Nothing;
        QTimer::singleShot(0, this, [this, serial = daySerial] {
            if (serial == daySerial)
                unreachableDay();
        });
        return;
    }
    dayWait = DayWait::Figures;
    protocol::send(&socket, protocol::GetDay,
                   protocol::DayAsked{daySerial, date.toJulianDay(), 0, 0});
}

void ServiceClient::unreachableDay()
{
    dayWait = DayWait::Nothing;
    dayAnswer.unreachable = true;
    Q_EMIT dayRead(std::exchange(dayAnswer, {}));
}

void ServiceClient::takeFigures(const protocol::Figures &figures)
{
    if (dayWait != DayWait::Figures || figures.serial != daySerial)
        return;
    if (!status::deserializeDay(figures.report, &dayAnswer.report)) {
        unreachableDay();
        return;
    }
    if (!dayAnswer.withRecords) {
        dayWait = DayWait::Nothing;
        Q_EMIT dayRead(std::exchange(dayAnswer, {}));
        return;
    }
    dayWait = DayWait::Records;
    protocol::send(&socket, protocol::GetDayRecords,
                   protocol::DayAsked{daySerial, dayAnswer.date.toJulianDay(), 0, 0});
}

void ServiceClient::takeRecords(const protocol::RecordPage &page)
{
    if (dayWait != DayWait::Records || page.serial != daySerial)
        return;
    if (!page.whoMayRead.isEmpty()) {
        // Read here where this user may: judged by what is read, since
        // rights on a folder are not always told (Windows). A day with no
        // folder has no records to refuse.
        const QString folder = datafiles::dateFolderPath(settings.filePath, dayAnswer.date);
        if (dayAnswer.report.found &&
            status::readDay(folder, &dayAnswer.records).files < dayAnswer.report.files) {
            dayAnswer.records.clear();
            dayAnswer.whoMayRead = page.whoMayRead;
        }
    } else {
        dayAnswer.records += page.lines;
        if (!page.done) {
            protocol::send(&socket, protocol::GetDayRecords,
                           protocol::DayAsked{daySerial, dayAnswer.date.toJulianDay(), page.file,
                                              page.offset});
            return;
        }
    }
    dayWait = DayWait::Nothing;
    Q_EMIT dayRead(std::exchange(dayAnswer, {}));
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
        hello = protocol::Greeting::fromMap(m.values);
        if (hello.version != protocol::version) {
            socket.abort();
            return;
        }
        heard = true;
        day = hello.day;
        break;
    case protocol::Options: {
        if (!heard) // none accepted
            return;
        settings = protocol::Settings::fromMap(m.values);
        // The options follow the hello: only then is everything known.
        if (!std::exchange(greeted, true)) {
            retry.stop();
            retry.setInterval(retryMs);
            Q_EMIT connected();
            Q_EMIT availabilityChanged(true);
        }
        const Change change = !settings.folderNotMade   ? Elsewhere
                              : *settings.folderNotMade ? FolderNotMade
                                                        : Applied;
        Q_EMIT optionsChanged(options(), change);
        break;
    }
    case protocol::Arrival: {
        const protocol::ArrivalTime arrival = protocol::ArrivalTime::fromMap(m.values);
        day = arrival.day;
        Q_EMIT arrived(QDateTime::fromMSecsSinceEpoch(arrival.timeMs));
        Q_EMIT todayChanged();
        break;
    }
    case protocol::Today:
        day = protocol::Day::fromMap(m.values);
        Q_EMIT todayChanged();
        break;
    case protocol::Warning:
        Q_EMIT warning(protocol::Text::fromMap(m.values).text);
        break;
    case protocol::Status: {
        status::Snapshot snapshot;
        if (status::deserialize(protocol::StatusBytes::fromMap(m.values).snapshot, &snapshot))
            Q_EMIT statusChanged(snapshot);
        break;
    }
    case protocol::DayFigures:
        takeFigures(protocol::Figures::fromMap(m.values));
        break;
    case protocol::DayRecords:
        takeRecords(protocol::RecordPage::fromMap(m.values));
        break;
    case protocol::Refused: {
        const protocol::Refusal why = protocol::Refusal::fromMap(m.values);
        Q_EMIT refused(why.whoMayChange, why.badEntry);
        break;
    }
    default:
        break;
    }
}

void ServiceClient::lost()
{
    buffer.clear();
    heard = false;
    if (dayWait != DayWait::Nothing) // what was asked is not answered
        unreachableDay();
    hello = {};
    // A socket that is there but refuses: a busy service, or one gone
    // without removing it. Where the folder is watched, a new service is
    // seen at once, so the tries grow further apart.
    if (!socketFolder.directories().isEmpty())
        retry.setInterval(qMin(retry.interval() * 2, retryLongestMs));
    retry.start();
    if (std::exchange(greeted, false)) {
        Q_EMIT disconnected();
        Q_EMIT availabilityChanged(false);
        Q_EMIT todayChanged();
    }
}
