#include "reception/localreception.h"

#include "files/datafiles.h"

#include <QCoreApplication>
#include <QSettings>

LocalReception::LocalReception(QSettings &store_, const options::Values &values_,
                               bool writableFolderOnly_)
    : store(store_), values(values_), writableFolderOnly(writableFolderOnly_)
{
    connect(&receiver, &Receiver::arrived, this, &Reception::arrived);
    connect(&receiver, &Receiver::warning, this, &Reception::warning);
    connect(&receiver, &Receiver::todayChanged, this, &Reception::todayChanged);
    // At the end of a Windows session, or on a stop request, the process
    // ends right after this signal, before any destructor runs: what was
    // read is stored first.
    connect(qApp, &QCoreApplication::aboutToQuit, &receiver, &Receiver::storeAndClose);
    connect(&dayTimer, &QTimer::timeout, this, &LocalReception::readDayStep);
    passOptions();
}

void LocalReception::passOptions()
{
    receiver.setDataFolder(values.filePath);
    receiver.setPort(values.udpPort);
    receiver.setDebug(values.debug);
    receiver.setLanguage(values.language);
    receiver.setSilentScaleMinutes(values.silentScaleMinutes);
}

void LocalReception::createUdpSocket()
{
    receiver.createUdpSocket();
    receiver.useStoredAllowedSenders(values.allowedSenders);
}

// As Apply in the options window: a folder typed that does not exist is made
// and becomes the data folder; one that exists is taken only through the
// folder dialog. What is applied is stored, and the port bound (kept when it
// is the same).
void LocalReception::apply(const options::Values &asked, const QString &typedFolder)
{
    const Change change = applyNow(asked, typedFolder);
    Q_EMIT optionsChanged(values, change);
}

Reception::Change LocalReception::applyNow(const options::Values &asked, const QString &typedFolder)
{
    bool folderNotMade = false;
    QString folder = options::appliedDataFolder(typedFolder, asked.filePath, &folderNotMade);
    if (writableFolderOnly && folder != values.filePath && !datafiles::isWritableFolder(folder)) {
        folder = values.filePath;
        folderNotMade = true;
    }
    values.filePath = folder;
    values.udpPort = asked.udpPort;
    values.debug = asked.debug;
    values.language = asked.language != 0 ? 1 : 0;
    options::store(store, values, options::ReceptionFields);
    passOptions();
    receiver.bindUdpSocket();
    return folderNotMade ? FolderNotMade : Applied;
}

// A list that does not parse changes nothing, and its bad entry is named.
void LocalReception::applyWatching(const QString &allowedSenders, int silentScaleMinutes)
{
    QString bad;
    if (applyWatchingNow(allowedSenders, silentScaleMinutes, &bad))
        Q_EMIT optionsChanged(values, Applied);
    else
        Q_EMIT refused({}, bad);
}

bool LocalReception::applyWatchingNow(const QString &allowedSenders, int silentScaleMinutes,
                                      QString *badEntry)
{
    if (!receiver.setAllowedSenders(allowedSenders, badEntry))
        return false;
    values.allowedSenders = allowedSenders.simplified();
    values.silentScaleMinutes = options::silentScaleMinutes(silentScaleMinutes);
    receiver.setSilentScaleMinutes(values.silentScaleMinutes);
    options::store(store, values, options::WatchFields);
    return true;
}

void LocalReception::chooseFolder(const QString &folder)
{
    values.filePath = folder;
    receiver.setDataFolder(folder);
}

void LocalReception::requestStatus()
{
    Q_EMIT statusChanged(receiver.statusSnapshot());
}

void LocalReception::requestDay(const QDate &date, bool withRecords)
{
    day = status::DayAnswer{date, {}, withRecords, {}, {}};
    dayReading.start(datafiles::dateFolderPath(values.filePath, date),
                     withRecords ? &day.records : nullptr);
    dayTimer.start(0);
}

void LocalReception::readDayStep()
{
    if (!dayReading.step(QDeadlineTimer(dayStepMs)))
        return;
    dayTimer.stop();
    day.report = dayReading.report;
    Q_EMIT dayRead(std::exchange(day, {}));
}
