#pragma once

#include "files/datafiles.h"
#include "files/syncqueue.h"
#include "status/dayscan.h"
#include "status/tally.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class EncodedStream;
class QFile;
class QHostAddress;
class QUdpSocket;

// Receiving and filing, with no window: the UDP socket, the checks of every
// datagram, the day folders with their numbered data files and debug dumps,
// the sync to disk, and the figures the status window shows. The tray
// program's main object and the service each own one; it tells its owner
// through signals and knows nothing of who shows what.
//
//   reception/receiver.cpp         the socket and reading
//   files/receiver_files.cpp       filing a datagram, data files, syncing
//   status/receiver_status.cpp     today's figures, allowed senders
class Receiver : public QObject
{
    Q_OBJECT

public:
    Receiver();
    ~Receiver() override;

    // The options it works by. The data folder, the debug dumps and the
    // language take effect with the next datagram; a port with the next
    // bindUdpSocket().
    void setDataFolder(const QString &folder);
    void setPort(quint16 port);
    void setDebug(bool on);
    void setLanguage(int language);
    // False, naming the entry that is neither an address nor a subnet, when
    // `text` does not parse; the senders allowed are then as before.
    bool setAllowedSenders(const QString &text, QString *badEntry = nullptr);
    // The allowed senders as stored: a list that does not parse (typed into
    // the store by hand) lets every sender in, and the user is warned, since
    // losing data would be worse.
    void useStoredAllowedSenders(const QString &text);

    // Once, before the socket: the next data file's number from what today's
    // folder holds (made if missing), and today's figures counted.
    void setFileCounter();
    void createUdpSocket();
    // Binds the port in force, in place of the socket there was; false when
    // it cannot be opened. `quietly`: the user hears only of a new reason.
    bool bindUdpSocket(bool quietly = false);
    bool isReceiving() const;
    void receiveMessage();
    // One datagram as a pass reads it: counted under its sender and, when the
    // sender is allowed, filed.
    void take(const QByteArray &datagram, const QHostAddress &sender, qint64 nowMs);
    void saveMessage(const QByteArray &message);
    void addFileHeader();
    // The end of a batch of datagrams: their lines to the system, then to the
    // disk, then announced.
    void finishBatch();
    // The end: what was read is stored and on the disk.
    void storeAndClose();
    // The service receives from now on. The socket goes to it when `give`
    // takes it, with what waits in it, and nothing is lost; else it is read
    // empty and closed, and `freed` tells the service the port is free.
    // Either way what was read is stored and on the disk. True when the
    // socket moved.
    bool handOver(const std::function<bool(qintptr)> &give, const std::function<void()> &freed);
    // Receives on the UDP socket a tray program gave (the service); false
    // when it receives already or the socket is not one.
    bool adoptSocket(qintptr socket);

    status::Snapshot statusSnapshot();
    qint64 recordsToday() const { return tally.recordsToday(); }
    qint64 lastArrivalMs() const { return tally.lastArrivalMs(); }

Q_SIGNALS:
    // Records of a batch are on the disk.
    void arrived(const QDateTime &time);
    // Something the user must hear of: a file not written, a port not opened.
    void warning(const QString &text);
    // The records of today or the last results changed.
    void todayChanged();

private:
    const QString &todaysDateFolder();
    void makeDateFolder(const QString &dateFolder);
    bool newFile() const;
    void openDataFile(const QString &dateFolder);
    void receiveOn(QUdpSocket *socket);
    void storeLines();
    bool reopenVanishedDataFile();
    void closeDataFile();
    void syncWritten(bool announce);
    void letGo();
    void warnOfLoss(const QString &path);
    // Kept among the recent events, and told.
    void warn(const QString &text);
    void countToday(const QString &dateFolder);
    void countTodayStep();
    void followToday();

    // The options.
    QString dataFolder;
    quint16 port = 0;
    bool debug = false;
    int language = 0;
    QString allowedSenders;

    QUdpSocket *udpSocket = nullptr;
    // Why the port is not open; empty while it is.
    QString portProblem;
    // One buffer for every datagram read, kept for the socket's life.
    QByteArray receiveBuffer;

    QFile *dataFile = nullptr;
    QFile *debugFile = nullptr;
    EncodedStream *dataStream = nullptr;
    qint64 fileCounter = 0;
    // Each opening of a data file is a generation of its own: a file made
    // anew under the name of one deleted is another file.
    qint64 fileGeneration = 0;
    datafiles::TodaysFolder todaysFolder;
    // Today's folder was looked at in this batch of datagrams.
    bool dateFolderChecked = false;
    datafiles::HeldDebugDump debugDump;
    datafiles::SyncQueue syncQueue;
    // The file the user was last warned of, until a write there succeeds:
    // one warning for each time writing fails.
    QString warnedFile;
    // Lines reached their file in this batch of datagrams: one notice at its end.
    bool resultsStored = false;

    status::Tally tally;
    // The records handed to their files in this pass, counted once synced.
    QList<status::Tally::Arrival> arriving;
    // Today's files already on disk, counted a few at a time.
    status::DayScan dayScan;
    QTimer dayScanTimer;
    // Looks at the date now and then, for a day that began without traffic.
    QTimer dayTimer;

    friend struct GravexProbe;
};
