// What Linux does its own way: file identity and syncing, requests to end
// the program, the user's running instance, the service with its socket and
// the journal.
#include "platform/platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

bool hasLeftItsPath(const QFileDevice &file)
{
    struct stat open
    {
    }, atPath{};
    if (::fstat(file.handle(), &open) != 0)
        return false;
    if (::stat(QFile::encodeName(file.fileName()).constData(), &atPath) != 0)
        return errno == ENOENT || errno == ENOTDIR; // not EACCES, ESTALE, EIO...
    return open.st_dev != atPath.st_dev || open.st_ino != atPath.st_ino;
}

qintptr duplicateHandle(const QFileDevice &file)
{
    return ::fcntl(file.handle(), F_DUPFD_CLOEXEC, 0);
}

bool syncAndClose(qintptr handle)
{
    const bool synced = ::fdatasync(int(handle)) == 0;
    ::close(int(handle));
    return synced;
}

bool syncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

qint64 droppedDatagrams(qintptr socket)
{
    quint32 memory[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof memory;
    if (::getsockopt(int(socket), SOL_SOCKET, SO_MEMINFO, memory, &size) != 0 ||
        size <= socklen_t(SK_MEMINFO_DROPS * sizeof(quint32)))
        return -1;
    return memory[SK_MEMINFO_DROPS];
}

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop does the rest.
void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

void handleTerminationRequests()
{
    std::signal(SIGXFSZ, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::exit(0);
    });
    struct sigaction action
    {
    };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

QString runtimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString instanceServerName(const QString &runtimeFolder)
{
    // A full path: the socket lies in the user's own runtime folder.
    return runtimeFolder + QLatin1String("/Trelvant.socket");
}

// --- the service elsewhere

QString serviceSocketName()
{
    const QString folder =
        qEnvironmentVariable("RUNTIME_DIRECTORY", QStringLiteral("/run/trelvant"));
    // systemd may list several folders; the first is the service's own.
    return folder.section(QLatin1Char(':'), 0, 0) + QLatin1String("/trelvant.socket");
}

QString serviceSocketFolder()
{
    return QFileInfo(serviceSocketName()).path();
}

QString serviceDataFolder()
{
    return {}; // the default: WeightData in the service account's home
}

namespace {

// Empty when the peer of the local stream socket `fd` may change the
// service: root, the service's own account, or a member of its group.
QString whoMayChange(int fd)
{
    const gid_t serviceGroup = ::getegid();
    const group *named = ::getgrgid(serviceGroup);
    const QString who = QLatin1String("group:") + (named ? QString::fromLocal8Bit(named->gr_name)
                                                         : QString::number(serviceGroup));
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return who;
    if (credentials.uid == 0 || credentials.uid == ::geteuid() || credentials.gid == serviceGroup)
        return {};
    const passwd *account = ::getpwuid(credentials.uid);
    if (!account)
        return who;
    int count = 64;
    std::vector<gid_t> groups(count);
    if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0) {
        groups.resize(count);
        ::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count);
    }
    groups.resize(count);
    return std::find(groups.begin(), groups.end(), serviceGroup) != groups.end() ? QString() : who;
}

} // namespace

QString whoMayChange(QLocalSocket &peer)
{
    return whoMayChange(int(peer.socketDescriptor()));
}

QString peerAccount(QLocalSocket &peer)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(peer.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) !=
        0)
        return {};
    return QLatin1String("uid:") + QString::number(credentials.uid);
}

bool isRemotePeer(QLocalSocket &)
{
    return false;
}

std::unique_ptr<QObject> listenForWatchers(const QString &name,
                                           std::function<void(QLocalSocket *)> welcome,
                                           QString *problem)
{
    auto server = std::make_unique<QLocalServer>();
    QLocalServer::removeServer(name);
    server->setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server->listen(name)) {
        *problem = server->errorString();
        return nullptr;
    }
    QLocalServer *s = server.get();
    QObject::connect(s, &QLocalServer::newConnection, s, [s, welcome = std::move(welcome)] {
        while (QLocalSocket *socket = s->nextPendingConnection())
            welcome(socket);
    });
    return server;
}

void connectToService(QLocalSocket &socket)
{
    socket.connectToServer(serviceSocketName());
}

void logWarning(const QString &text)
{
    // One line an entry: the journal makes an entry of every line.
    std::fprintf(
        stderr, "%s\n",
        QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')).toLocal8Bit().constData());
    std::fflush(stderr);
}

int runAsService(const std::function<int()> &body)
{
    return body();
}

// --- moving the receiving socket to the service

namespace {

// How long the service waits for a socket once a tray program has connected
// to give it one, and how many such connections it holds at a time.
constexpr int offerMs = 2000;
constexpr int offersAtOnce = 4;
constexpr char taken = '1';

QByteArray inboxPath(const QString &serviceSocket)
{
    return QFile::encodeName(QFileInfo(serviceSocket).path() + QLatin1String("/trelvant.handover"));
}

bool addressOf(const QByteArray &path, sockaddr_un *address)
{
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address->sun_path))
        return false;
    std::memcpy(address->sun_path, path.constData(), size_t(path.size()));
    return true;
}

int option(int fd, int level, int name)
{
    int value = -1;
    socklen_t size = sizeof value;
    return ::getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
}

// The port of an unconnected UDP socket bound to all addresses, for itself
// alone, else 0.
quint16 listeningPort(int fd)
{
    if (option(fd, SOL_SOCKET, SO_TYPE) != SOCK_DGRAM ||
        option(fd, SOL_SOCKET, SO_PROTOCOL) != IPPROTO_UDP ||
        option(fd, SOL_SOCKET, SO_REUSEADDR) != 0 || option(fd, SOL_SOCKET, SO_REUSEPORT) != 0)
        return 0;
    socklen_t size = 0;
    sockaddr_storage peer{};
    size = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) == 0 || errno != ENOTCONN)
        return 0;
    sockaddr_storage own{};
    size = sizeof own;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&own), &size) != 0)
        return 0;
    if (own.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(own);
        return v4.sin_addr.s_addr == htonl(INADDR_ANY) ? ntohs(v4.sin_port) : 0;
    }
    if (own.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(own);
        return IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr) && option(fd, IPPROTO_IPV6, IPV6_V6ONLY) == 0
                   ? ntohs(v6.sin6_port)
                   : 0;
    }
    return 0;
}

// The one descriptor a message on `connection` carries, or -1; any other
// that came with it is closed.
int receiveDescriptor(int connection)
{
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (::recvmsg(connection, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1)
        return -1;
    int fd = -1;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received = -1;
            std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof received);
            if (fd < 0 && count == 1)
                fd = received;
            else
                ::close(received);
        }
    }
    if (fd >= 0 && (message.msg_flags & MSG_CTRUNC)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Listens at the inbox; each connection of a peer that may change the
// service is given a moment to send its socket.
class SocketInbox : public QObject
{
public:
    SocketInbox(int listener_, QByteArray path_, SocketTaker take_)
        : listener(listener_), path(std::move(path_)), take(std::move(take_))
    {
        auto *notifier = new QSocketNotifier(listener, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &SocketInbox::accept);
    }
    ~SocketInbox() override
    {
        ::close(listener);
        ::unlink(path.constData());
    }

private:
    void accept()
    {
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0)
            return;
        if (offers >= offersAtOnce || !whoMayChange(connection).isEmpty()) {
            ::close(connection); // what it sent goes with it
            return;
        }
        ++offers;
        auto *notifier = new QSocketNotifier(connection, QSocketNotifier::Read, this);
        const auto done = [this, notifier, connection] {
            notifier->deleteLater();
            notifier->setEnabled(false);
            ::close(connection);
            --offers;
        };
        connect(notifier, &QSocketNotifier::activated, this, [this, connection, done] {
            const int fd = receiveDescriptor(connection);
            const quint16 port = fd < 0 ? 0 : listeningPort(fd);
            if (port != 0 && take(fd, port)) {
                [[maybe_unused]] const ssize_t n = ::send(connection, &taken, 1, MSG_NOSIGNAL);
            } else if (fd >= 0) {
                ::close(fd);
            }
            done();
        });
        QTimer::singleShot(offerMs, notifier, [notifier, done] {
            if (notifier->isEnabled())
                done();
        });
    }

    int listener;
    QByteArray path;
    SocketTaker take;
    int offers = 0;
};

} // namespace

bool giveSocket(qintptr socket, const QString &serviceSocket, int waitMs)
{
    sockaddr_un address{};
    if (!addressOf(inboxPath(serviceSocket), &address))
        return false;
    // Never blocking: a service too busy to accept is not waited for.
    const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (connection < 0)
        return false;
    bool given = false;
    if (::connect(connection, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        char byte = 0;
        iovec data{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        const int fd = int(socket);
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
        pollfd answer{connection, POLLIN, 0};
        char reply = 0;
        given = ::sendmsg(connection, &message, MSG_NOSIGNAL) == 1 &&
                ::poll(&answer, 1, waitMs) == 1 && ::read(connection, &reply, 1) == 1 &&
                reply == taken;
    }
    ::close(connection);
    return given;
}

std::unique_ptr<QObject> receiveSockets(const QString &serviceSocket, SocketTaker take)
{
    sockaddr_un address{};
    const QByteArray path = inboxPath(serviceSocket);
    if (!addressOf(path, &address))
        return nullptr;
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0)
        return nullptr;
    ::unlink(path.constData()); // left by a service that did not end well
    // Anyone may connect: who may give a socket is asked of each connection.
    if (::bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(path.constData(), 0666) != 0 || ::listen(listener, offersAtOnce) != 0) {
        ::close(listener);
        return nullptr;
    }
    return std::make_unique<SocketInbox>(listener, path, std::move(take));
}

} // namespace platform
