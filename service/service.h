#pragma once

#include "reception/receiver.h"
#include "service/protocol.h"
#include "settings/options.h"

#include <QHash>
#include <QLocalServer>
#include <QObject>
#include <QTimer>

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
    // No watcher may hold the service back: beyond these, a watcher is let go.
    static constexpr int watcherLimit = 64;
    static constexpr qint64 unreadLimit = 1024 * 1024; // bytes it leaves unread
    static constexpr qint64 statusPauseMs = 250;       // between two statuses
    static constexpr int bindRetryMs = 5000;

    Service();
    ~Service() override;

    // Receives on the port of the options and listens for watchers.
    void start();

private:
    void welcome();
    void read(QLocalSocket *watcher);
    void handle(QLocalSocket *watcher, const protocol::Message &message);
    void applyOptions(QLocalSocket *watcher, const QVariantMap &request);
    void applyAllowedSenders(QLocalSocket *watcher, const QString &text);
    bool takeSocket(qintptr socket, quint16 port);
    void receiving();
    bool mayChange(QLocalSocket *watcher);
    QVariantMap optionValues() const;
    QVariantMap today() const;
    void tell(protocol::Kind kind, const QVariantMap &values, QLocalSocket *except = nullptr);
    void warn(const QString &text);

    struct Watcher
    {
        QByteArray buffer;
        bool greeted = false;
        QString whoMayChange; // empty: this one may
        qint64 lastStatusMs = 0;
    };

    std::unique_ptr<QSettings> settings;
    options::Values values;
    QLocalServer server;
    QHash<QLocalSocket *, Watcher> watchers;
    // Tries again, now and then, to open a port it could not.
    QTimer bindRetry;
    // Where a tray program gives the service its socket.
    std::unique_ptr<QObject> inbox;
    // Last, so it goes first: what it tells at the end still has its watchers.
    Receiver receiver;
};

// What main() does for `Trelvant --service`, once the application object
// exists. Returns the process's exit code.
int runService();
