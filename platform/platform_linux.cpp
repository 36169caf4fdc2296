// What Linux does its own way: file identity and syncing, requests to end
// the program, the user's running instance, the service with its socket and
// the journal.
#include "platform/platform.h"

#include "settings/options.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <linux/sock_diag.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

QString serviceDataFolder()
{
    return options::defaultDataFolder();
}

QString whoMayChange(QLocalSocket &peer)
{
    const gid_t serviceGroup = ::getegid();
    const group *named = ::getgrgid(serviceGroup);
    const QString who = QLatin1String("group:") + (named ? QString::fromLocal8Bit(named->gr_name)
                                                         : QString::number(serviceGroup));
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(peer.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &size) !=
        0)
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

bool isRemotePeer(QLocalSocket &)
{
    return false;
}

bool isServiceProcess(QLocalSocket &)
{
    return true;
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

} // namespace platform
