#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

class QLocalSocket;

// What the service and the tray programs that watch it say to each other over
// the service's local socket (a named pipe on Windows): messages of a kind
// and a map of values, in CBOR, each framed by its length. Every watcher hears every
// arrival and warning; it asks for the status and the options when it wants
// them, and may ask to change the options, which only some may.
namespace protocol {

// Raised whenever a message changes its meaning: the two ends never
// misread each other across versions.
constexpr int version = 3;

enum Kind : quint8 {
    // service to watcher
    Hello = 1, // version, whoMayChange (empty: this watcher), receiving, and Today's
    Arrival,   // time (ms since the epoch), and Today's
    Today,     // recordsToday, lastArrival (ms since the epoch, 0: none)
    Warning,   // text
    Status,    // snapshot (status::serialize)
    Options,   // filePath, udpPort, debug, language, allowedSenders; folderNotMade after an Apply
    Refused,   // whoMayChange, or badEntry of the allowed senders
    // watcher to service; the first message of a watcher is answered with a
    // Hello and the Options
    GetStatus,
    GetOptions,
    ApplyOptions,        // filePath, typedFolder, udpPort, debug, language
    ApplyAllowedSenders, // text
    PortFreed,           // a tray program closed its socket on the service's port
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

} // namespace protocol
