#pragma once

#include "reception/localreception.h"
#include "service/protocol.h"
#include "settings/options.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QLocalSocket;
class QSettings;

// The program as a service, for when nobody is signed in: the same
// receiving and filing with no window. Its options are those stored for the
// account it runs under. What it must tell goes to the system's log and to
// every tray program watching it over its local socket; a watcher may ask
// for the status and the options, and change the options if the system says
// its user may.
class Service : public QObject
{
    Q_OBJECT

public:
    // No watcher may hold the service back or cost it its memory, whatever
    // it sends: what the service holds for its watchers is at most
    // watcherLimit x (readLimit + unreadLimit + protocol::largestAnswer),
    // some 130 MiB in all, and one watcher's share is let go once it leaves
    // more than unreadLimit unread.
    static constexpr int watcherLimit = 64;
    static constexpr qint64 unreadLimit = 1024 * 1024;                        // bytes left unread
    static constexpr qint64 readLimit = 2 * qint64(protocol::largestRequest); // bytes read ahead
    // One account holds at most this many connections; beyond, its newest
    // takes the place of its oldest silent one (Windows tells accounts apart
    // only once they speak: until then they count as one).
    static constexpr int accountLimit = 4;
    // Places kept for those who may change the service: the others together
    // hold at most watcherLimit - keptForChangers.
    static constexpr int keptForChangers = 8;
    // A tray program speaks at once; a connection silent this long goes.
    static constexpr int greetMs = 3000;
    static constexpr qint64 statusPauseMs = 250; // between two statuses
    static constexpr int bindRetryMs = 5000;

    Service();
    ~Service() override;

    // Receives on the port of the options and listens for watchers.
    void start();

private:
    struct Watcher
    {
        qint64 serial = 0; // the order they came in
        QString account;   // empty: not known yet
        bool greeted = false;
        bool mayChangeKnown = false;
        QString whoMayChange; // empty: this one may
        QByteArray buffer;
        qint64 lastStatusMs = 0;
        // The day it waits for: one at a time, the newest asked.
        QDate dayAsked;
        qint64 daySerial = 0;
        qint64 dayOrder = 0; // days are read in the order asked
    };

    void welcome(QLocalSocket *watcher);
    bool makeRoom(const QString &account, bool mayChange);
    QLocalSocket *oldestSilent(const std::function<bool(const Watcher &)> &among) const;
    int count(const std::function<bool(const Watcher &)> &which) const;
    void read(QLocalSocket *watcher);
    void handle(QLocalSocket *watcher, const protocol::Message &message);
    void greet(QLocalSocket *watcher);
    void applyOptions(QLocalSocket *watcher, const QVariantMap &request);
    void applyWatching(QLocalSocket *watcher, const protocol::Watching &asked);
    void askDay(QLocalSocket *watcher, const protocol::DayAsked &asked);
    void readNextDay();
    void answerDay(const status::DayAnswer &answer);
    void sendRecords(QLocalSocket *watcher, const protocol::DayAsked &asked);
    bool takeSocket(qintptr socket, quint16 port);
    void receiving();
    bool mayChange(QLocalSocket *watcher);
    protocol::Settings settingsInForce() const;
    protocol::Day today() const;
    // False when the watcher was let go instead, for all it left unread.
    bool send(QLocalSocket *watcher, protocol::Kind kind, const QVariantMap &message = {});
    void tell(protocol::Kind kind, const QVariantMap &message, QLocalSocket *except = nullptr);
    void drop(QLocalSocket *watcher);
    void warn(const QString &text);

    std::unique_ptr<QSettings> settings;
    QHash<QLocalSocket *, Watcher> watchers;
    qint64 watcherSerial = 0;
    QDate dayBeingRead; // none: no day is read
    qint64 dayOrder = 0;
    // Tries again, now and then, to open a port it could not.
    QTimer bindRetry;
    // Where watchers connect, and where a tray program gives the service its
    // socket.
    std::unique_ptr<QObject> listener;
    std::unique_ptr<QObject> inbox;
    // Last, so it goes first: what it tells at the end still has its watchers.
    LocalReception reception;
};

// What main() does for `Trelvant --service`, once the application object
// exists. Returns the process's exit code.
int runService();
