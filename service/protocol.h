#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace options {
struct Values;
}

class QLocalSocket;

// What the service and the tray programs that watch it say to each other over
// the service's local socket (a named pipe on Windows): messages of a kind
// and a map of values, in CBOR, each framed by its length. Every watcher hears every
// arrival and warning; it asks for the status and the options when it wants
// them, and may ask to change the options, which only some may.
namespace protocol {

// Raised whenever a message changes its meaning: the two ends never
// misread each other across versions.
constexpr int version = 5;

// The kinds of message, each with the values of the struct named beside it.
enum Kind : quint8 {
    // service to watcher
    Hello = 1, // Greeting
    Arrival,   // ArrivalTime
    Today,     // Day
    Warning,   // Text
    Status,    // StatusBytes
    Options,   // Settings, folderNotMade after an Apply
    Refused,   // Refusal
    // watcher to service; the first message of a watcher is answered with a
    // Hello and the Options
    GetStatus,
    GetOptions,
    ApplyOptions,  // Settings: what it leaves out stays as it is
    ApplyWatching, // Watching
    PortFreed,     // a tray program closed its socket on the service's port
    // A day, read by the service from its data folder, which may be closed
    // to the watcher: the figures in one message, the records in pages, each
    // asked for once the one before has come.
    GetDay,        // DayAsked; answered by DayFigures
    GetDayRecords, // DayAsked, from its file and offset; answered by DayRecords
    DayFigures,    // Figures
    DayRecords,    // RecordPage
};

// The values of each kind of message, each key named once (protocol.cpp):
// a misspelt one does not compile.

// The service's day, as every watcher hears it.
struct Day
{
    qint64 recordsToday = 0;
    qint64 lastArrivalMs = 0; // 0: none today
    bool receiving = false;   // the service has its port
    QVariantMap toMap() const;
    static Day fromMap(const QVariantMap &map);
};

struct Greeting
{
    int version = 0;
    QString whoMayChange; // empty: the watcher may change the options
    Day day;
    QVariantMap toMap() const;
    static Greeting fromMap(const QVariantMap &map);
};

struct ArrivalTime
{
    qint64 timeMs = 0;
    Day day;
    QVariantMap toMap() const;
    static ArrivalTime fromMap(const QVariantMap &map);
};

// The service's options, as in force or as asked for.
struct Settings
{
    QString filePath;
    quint16 udpPort = 0;
    bool debug = false;
    int language = 0;
    QString allowedSenders;
    int silentScaleMinutes = 0;
    QString typedFolder; // asked: the folder field as typed
    // In the answer to the watcher that asked: whether the folder it asked
    // for was refused. Not there in what every watcher hears.
    std::optional<bool> folderNotMade;
    QVariantMap toMap() const;
    static Settings fromMap(const QVariantMap &map);
    // What `map` leaves out is as in `current`.
    static Settings fromMap(const QVariantMap &map, const Settings &current);
    // The options of receiving, as the program holds them.
    static Settings of(const options::Values &values);
    // Into `values`: the data folder, port, debug and language (the allowed
    // senders and the silence are applied on their own).
    void applyTo(options::Values &values) const;
};

struct Refusal
{
    QString whoMayChange; // who may, when the watcher may not
    QString badEntry;     // of the allowed senders
    QVariantMap toMap() const;
    static Refusal fromMap(const QVariantMap &map);
};

// What the status window applies: the allowed senders and how long a
// scale may be silent.
struct Watching
{
    QString allowedSenders;
    int silentScaleMinutes = 0;
    QVariantMap toMap() const;
    static Watching fromMap(const QVariantMap &map);
};

struct DayAsked
{
    qint64 serial = 0; // given back in the answer
    qint64 date = 0;   // its Julian day
    qint64 file = 0;   // where the records' page starts
    qint64 offset = 0;
    QVariantMap toMap() const;
    static DayAsked fromMap(const QVariantMap &map);
};

struct Figures
{
    qint64 serial = 0;
    QByteArray report; // status::serializeDay
    QVariantMap toMap() const;
    static Figures fromMap(const QVariantMap &map);
};

struct RecordPage
{
    qint64 serial = 0;
    qint64 file = 0; // where the next page starts
    qint64 offset = 0;
    bool done = false;
    QByteArray lines;
    QString whoMayRead; // the records are refused: who may read them
    QVariantMap toMap() const;
    static RecordPage fromMap(const QVariantMap &map);
};

// The record lines of one page: with the rest of the message, well within
// largestAnswer.
constexpr qsizetype recordPageBytes = 256 * 1024;

struct Text
{
    QString text;
    QVariantMap toMap() const;
    static Text fromMap(const QVariantMap &map);
};

struct StatusBytes
{
    QByteArray snapshot; // status::serialize
    QVariantMap toMap() const;
    static StatusBytes fromMap(const QVariantMap &map);
};

struct Message
{
    Kind kind;
    QVariantMap values;
};

QByteArray frame(const Message &message);

// What a watcher sends is small; what the service sends (a status) larger.
constexpr quint32 largestRequest = 64 * 1024;
constexpr quint32 largestAnswer = 1024 * 1024;

// Takes the whole messages off the front of `buffer`, leaving a partial one.
// False when the buffer holds something that is not a message of this
// protocol, or one longer than `largest`: the connection is then better
// closed.
bool takeMessages(QByteArray &buffer, QList<Message> *messages, quint32 largest);

void send(QLocalSocket *socket, Kind kind, const QVariantMap &values = {});
template <typename Values> void send(QLocalSocket *socket, Kind kind, const Values &values)
{
    send(socket, kind, values.toMap());
}

} // namespace protocol
