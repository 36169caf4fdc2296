#pragma once

#include "files/filing.h"
#include "reception/localaddresses.h"
#include "status/counting.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QUdpSocket;

// Receiving, with no window: the UDP socket and the checks of every datagram,
// which joins filing (files/filing.h) and counting (status/counting.h): what
// passes is filed, and all of it counted. The tray program's main object and
// the service each own one; it tells its owner through signals and knows
// nothing of who shows what.
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
    // A scale silent this long while others send is warned of; 0: never.
    void setSilentScaleMinutes(int minutes);
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
    qint64 recordsToday() const { return counting.recordsToday(); }
    qint64 lastArrivalMs() const { return counting.lastArrivalMs(); }

Q_SIGNALS:
    // Records of a batch are on the disk.
    void arrived(const QDateTime &time);
    // Something the user must hear of: a file not written, a port not opened.
    void warning(const QString &text);
    // The records of today or the last results changed.
    void todayChanged();

private:
    void receiveOn(QUdpSocket *socket);
    void letGo();
    void followTransfer(const QByteArray &message, QByteArrayView records);
    void followTransaction(quint64 scaleKey, QByteArrayView record, qint64 nowS);
    // Kept among the recent events, and told.
    void warn(const QString &text);
    void tellMissing(const QString &text);
    void followAddresses();
    void addressesChanged();

    quint16 port = 0;
    int language = 0;

    QUdpSocket *udpSocket = nullptr;
    // Why the port is not open; empty while it is.
    QString portProblem;
    // One buffer for every datagram read, kept for the socket's life.
    QByteArray receiveBuffer;
    // When the pass that read the datagram in hand began; 0 for one handed
    // to saveMessage().
    qint64 nowInHandMs = 0;
    static constexpr int missingPerSecond = 10;
    qint64 missingSecond = 0;
    int missingTold = 0;
    qint64 missingUntold = 0;
    QTimer untoldTimer;

    // This computer's addresses, watched once it receives.
    LocalAddresses addresses;
    std::unique_ptr<QObject> addressWatch;

    Counting counting;
    // After what it tells, so that it goes first and tells it all.
    Filing filing;

    friend struct GravexProbe;
};
