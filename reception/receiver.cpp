// The socket and reading datagrams off it.
#include "reception/receiver.h"

#include "files/datafiles.h"
#include "i18n/strings.h"
#include "platform/platform.h"
#include "reception/frame.h"
#include "reception/recordline.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QUdpSocket>

namespace {
// Room for a burst from several scales while files are written; the system
// may grant less.
constexpr int receiveBufferBytes = 4 * 1024 * 1024;
// Larger than any UDP payload, so every datagram is read whole into one
// buffer without first asking the system for its size.
constexpr qsizetype maxDatagramBytes = 65536;
// How long one pass reads before the event loop gets its turn again.
constexpr int receivePassMs = 5;
// How long a socket that goes is read for: what waited in it, not a stream
// that goes on.
constexpr int letGoMs = 200;
} // namespace

Receiver::Receiver() : counting(recordline::scaleText)
{
    connect(&filing, &Filing::dayFolder, &counting, &Counting::dayFolder);
    connect(&filing, &Filing::fileOpened, &counting, &Counting::fileOpened);
    connect(&filing, &Filing::stored, &counting, &Counting::stored);
    connect(&filing, &Filing::discarded, &counting, &Counting::discarded);
    connect(&filing, &Filing::batchEnded, &counting, &Counting::batchEnded);
    connect(&filing, &Filing::synced, &counting, &Counting::synced);
    connect(&filing, &Filing::warning, this, &Receiver::warn);
    connect(&filing, &Filing::arrived, this, [this](const QDateTime &time) {
        Q_EMIT arrived(time);
        Q_EMIT todayChanged();
    });
    connect(&counting, &Counting::todayChanged, this, &Receiver::todayChanged);
    connect(&counting, &Counting::scaleSilent, this, [this](const status::Tally::Silent &s) {
        const QString since =
            QDateTime::fromMSecsSinceEpoch(s.sinceMs).toString(QStringLiteral("hh:mm"));
        tellMissing(strings::scaleSilentText(language, s.scale, since, s.othersRecords));
    });
    untoldTimer.setSingleShot(true);
    untoldTimer.setInterval(1000);
    connect(&untoldTimer, &QTimer::timeout, this,
            [this] { warn(strings::untoldText(language, std::exchange(missingUntold, 0))); });
}

Receiver::~Receiver()
{
    storeAndClose();
    filing.disconnect(this); // nothing is left to tell as the members go
    delete udpSocket;
}

void Receiver::setSilentScaleMinutes(int minutes)
{
    counting.setSilentLimit(std::chrono::minutes(minutes));
}

void Receiver::followAddresses()
{
    if (addressWatch)
        return;
    addressWatch = platform::watchAddresses([this] { addressesChanged(); });
    addresses.start(LocalAddresses::current());
}

// Told at once, whether or not scales were sending: from now on those that
// send to the old address are not heard, and all go silent together.
void Receiver::addressesChanged()
{
    const LocalAddresses::Change change = addresses.update(LocalAddresses::current());
    if (!change.gone.isEmpty())
        warn(strings::addressChangedText(language, change.gone.join(QLatin1String(", ")),
                                         change.came.join(QLatin1String(", "))));
}

void Receiver::warn(const QString &text)
{
    counting.warning(text);
    Q_EMIT warning(text);
}

// What never arrived, or came late, is told at most missingPerSecond times
// a second, so that a stranger's made-up numbers cannot flood the log; the
// rest are counted, and their number told when the second is over.
void Receiver::tellMissing(const QString &text)
{
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (second != missingSecond) {
        missingSecond = second;
        missingTold = 0;
    }
    if (missingTold < missingPerSecond) {
        ++missingTold;
        warn(text);
        return;
    }
    ++missingUntold;
    if (!untoldTimer.isActive())
        untoldTimer.start();
}

void Receiver::setDataFolder(const QString &folder)
{
    filing.setDataFolder(folder);
    counting.setDataFolder(folder);
}

void Receiver::setPort(quint16 port_)
{
    port = port_;
}

void Receiver::setDebug(bool on)
{
    filing.setDebug(on);
}

void Receiver::setLanguage(int language_)
{
    language = language_;
    filing.setLanguage(language_);
}

bool Receiver::setAllowedSenders(const QString &text, QString *badEntry)
{
    return counting.setAllowedSenders(text, badEntry);
}

void Receiver::useStoredAllowedSenders(const QString &text)
{
    QString bad;
    if (!setAllowedSenders(text, &bad))
        warn(strings::phrase(language, strings::StoredListInvalid).arg(bad));
}

void Receiver::setFileCounter()
{
    filing.setFileCounter();
}

void Receiver::createUdpSocket()
{
    receiveBuffer.resize(maxDatagramBytes);
    bindUdpSocket();
}

// Binds to the port on all local addresses, for this program alone: no other
// program, of this account or another, may bind it beside it and take the
// scales' datagrams. A port that cannot be opened leaves the program running
// and says why; a later Apply binds again. Port 0 (an empty or unreadable
// setting) would be some random port no scale sends to, so it is never
// bound. The port in use is kept as it is, with what waits in it; a new port
// is bound before the old one is read empty and closed.
bool Receiver::bindUdpSocket(bool quietly)
{
    const QString before = std::exchange(portProblem, QString());
    if (isReceiving() && udpSocket->localPort() == port)
        return true;
    auto *socket = new QUdpSocket(this);
    if (port == 0)
        portProblem = strings::invalidPortReason(language);
    else if (!socket->bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress))
        portProblem = socket->errorString();
    if (!portProblem.isEmpty()) {
        delete socket;
        letGo();
        filing.finishSyncs();
        if (!quietly || portProblem != before)
            warn(strings::bindFailedText(language, port, portProblem));
        return false;
    }
    letGo();
    filing.finishSyncs();
    receiveOn(socket);
    return true;
}

void Receiver::receiveOn(QUdpSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBufferBytes);
    udpSocket = socket;
    connect(udpSocket, &QUdpSocket::readyRead, this, &Receiver::receiveMessage);
    followAddresses();
}

bool Receiver::adoptSocket(qintptr socket)
{
    if (isReceiving())
        return false;
    auto *adopted = new QUdpSocket(this);
    if (!adopted->setSocketDescriptor(socket, QAbstractSocket::BoundState)) {
        delete adopted;
        return false;
    }
    portProblem.clear();
    receiveOn(adopted);
    return true;
}

bool Receiver::isReceiving() const
{
    return udpSocket && udpSocket->state() == QAbstractSocket::BoundState;
}

// The socket in use is read empty and goes at once, its port free; what it
// brought is filed, its transfer's file still open, and synced as usual.
void Receiver::letGo()
{
    if (!udpSocket)
        return;
    const QDeadlineTimer reading(letGoMs);
    while (udpSocket->hasPendingDatagrams() && !reading.hasExpired())
        receiveMessage();
    delete std::exchange(udpSocket, nullptr);
}

// Every waiting datagram is handled to the end, in arrival order, before the
// next one is read. A pass reads for a few milliseconds at most and then
// hands what it brought to the system, so under a flood the tray menu still
// opens and the icon still blinks; while datagrams wait, the socket signals
// again at once. The datagram is read in place: saveMessage() keeps nothing
// of it beyond the call. A sender that is not allowed gets no further than
// being counted.
void Receiver::receiveMessage()
{
    const QDeadlineTimer pass(receivePassMs, Qt::PreciseTimer);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QHostAddress sender;
    qint64 size = 0;
    while (!pass.hasExpired() &&
           (size = udpSocket->readDatagram(receiveBuffer.data(), maxDatagramBytes, &sender)) >= 0)
        take(QByteArray::fromRawData(receiveBuffer.constData(), size), sender, now);
    finishBatch();
}

bool Receiver::handOver(const std::function<bool(qintptr)> &give,
                        const std::function<void()> &freed)
{
    bool moved = false;
    if (udpSocket) {
        moved = give(udpSocket->socketDescriptor());
        if (moved) {
            delete std::exchange(udpSocket, nullptr); // the service's copy lives on
        } else {
            letGo();
            freed();
        }
    }
    storeAndClose();
    return moved;
}

void Receiver::take(const QByteArray &datagram, const QHostAddress &sender, qint64 nowMs)
{
    if (!counting.received(sender, nowMs))
        return;
    nowInHandMs = nowMs;
    saveMessage(datagram);
    nowInHandMs = 0;
}

// The checks of a datagram, in their order: a frame that does not begin
// right leaves nothing behind; one whose length or CRC is wrong leaves its
// debug dump. The lines of the records go to the transfer's file, and the
// records are counted under their scales.
void Receiver::saveMessage(const QByteArray &message)
{
    if (!frame::hasValidPrefix(message)) {
        counting.rejected(status::Frame);
        return;
    }
    filing.begin(message);
    if (!frame::hasValidLength(message)) {
        counting.rejected(status::Length);
        return;
    }
    if (!frame::hasValidCrc(message)) {
        counting.rejected(status::Crc);
        return;
    }
    counting.accepted();
    const QByteArrayView records = frame::recordData(message);
    const bool filed = filing.write(recordline::renderAllText(records));
    const qint64 nowS =
        (nowInHandMs != 0 ? nowInHandMs : QDateTime::currentMSecsSinceEpoch()) / 1000;
    for (qsizetype k = 0; k + frame::recordSize <= records.size(); k += frame::recordSize) {
        const QByteArrayView record = records.sliced(k, frame::recordSize);
        const quint64 scale = recordline::scaleKey(record);
        followTransaction(scale, record, nowS);
        if (filed && !recordline::isEmpty(record))
            counting.stage(scale);
    }
    followTransfer(message, records);
    if (frame::endsTransfer(message))
        filing.endTransfer();
}

// The transaction numbers of each scale: those that never came are told, a
// scale numbering anew is only shown.
void Receiver::followTransaction(quint64 scaleKey, QByteArrayView record, qint64 nowS)
{
    const qint32 number = recordline::transactionNumber(record);
    const status::Transactions::Heard heard =
        counting.transaction(scaleKey, number, record, nowS, recordline::scaleSeconds(record));
    if (heard.kind == status::Transactions::InOrder || heard.kind == status::Transactions::Resent)
        return;
    const QString scale = recordline::scaleText(scaleKey);
    const status::Transactions::Range &n = heard.numbers;
    switch (heard.kind) {
    case status::Transactions::Gap:
        tellMissing(strings::transactionsMissingText(
            language, scale, status::range(n.first, n.last), n.last > n.first));
        break;
    case status::Transactions::Late:
        tellMissing(strings::transactionLateText(language, scale, n.first));
        break;
    default: // numbering anew: shown, no alarm
        counting.warning(strings::renumberedText(language, scale, number));
        break;
    }
}

// The packet numbers of each scale's transfers: a packet that never came is
// told to the user, with the data file its transfer went to.
void Receiver::followTransfer(const QByteArray &message, QByteArrayView records)
{
    const quint64 scale =
        records.size() >= frame::recordSize ? recordline::scaleKey(records) : quint64(0);
    status::Transfers::Heard heard;
    if (!counting.packet(scale, frame::packetNumber(message), frame::packetCount(message),
                         filing.dataFileNumber(), heard))
        return;
    const auto fileName = [](qint64 number) {
        return QFileInfo(datafiles::dataFilePath(QString(), number)).fileName();
    };
    for (const status::Transfers::Loss &loss : heard.lost)
        tellMissing(strings::packetsLostText(
            language, fileName(loss.file),
            status::ranges(loss.packets) +
                (loss.lost > loss.packets.size()
                     ? QStringLiteral(" (+%1)").arg(loss.lost - loss.packets.size())
                     : QString()),
            loss.lost > 1, loss.count, recordline::scaleText(scale)));
    for (const status::Transfers::Loss &late : heard.arrived)
        tellMissing(strings::packetLateText(language, fileName(late.file), late.packets.first(),
                                            late.count, recordline::scaleText(scale)));
}

void Receiver::addFileHeader()
{
    filing.addFileHeader();
}

void Receiver::finishBatch()
{
    filing.finishBatch();
}

void Receiver::storeAndClose()
{
    filing.storeAndClose();
}

status::Snapshot Receiver::statusSnapshot()
{
    status::Snapshot s = counting.snapshot();
    status::Reception &r = s.reception;
    r.port = port;
    r.open = isReceiving();
    r.problem = portProblem;
    if (r.open) {
        r.bufferBytes =
            udpSocket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toLongLong();
        r.dropped = platform::droppedDatagrams(udpSocket->socketDescriptor());
    }
    return s;
}
