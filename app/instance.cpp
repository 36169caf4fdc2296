#include "app/instance.h"

#include "platform/platform.h"

#include <QLocalSocket>

namespace {
constexpr int answerMs = 3000;

QString serverName()
{
    return platform::instanceServerName(platform::runtimeFolder());
}
} // namespace

RunningInstance::RunningInstance() : lock(platform::instanceLockPath())
{
    // The lock is held for the whole run: it is stale only once its process is gone.
    lock.setStaleLockTime(0);
    connect(&server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = server.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            peer->disconnectFromServer();
            Q_EMIT showOptionsRequested();
        }
    });
}

bool RunningInstance::claim()
{
    if (!lock.tryLock(0))
        return lock.error() != QLockFile::LockFailedError;
    // A socket left behind by an instance that crashed would block listening.
    QLocalServer::removeServer(serverName());
    server.setSocketOptions(QLocalServer::UserAccessOption);
    server.listen(serverName());
    return true;
}

// The connection is the request; the socket closes as it goes.
void RunningInstance::askToShowOptions()
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    socket.waitForConnected(answerMs);
}
