// Everything that differs between Windows and other systems: the stored
// options, the start at login, file identity and syncing, requests to end
// the program, and where the running instance is found.
#include "app/platform.h"
#include "settings/autostart.h"
#include "settings/options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_WIN
// Winsock before windows.h, and windows.h before the rest.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <io.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <thread>
#else
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const char *const storeName = "Ponderix";
#ifdef Q_OS_WIN
const char *const optionsKey = "HKEY_CURRENT_USER\\Software\\Ponderix";
const char *const runKeyPath =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";
#endif
} // namespace

namespace options {

QSettings *openStore()
{
#ifdef Q_OS_WIN
    return new QSettings(QLatin1String(optionsKey), QSettings::NativeFormat);
#else
    // $XDG_CONFIG_HOME/Ponderix.conf, section [General].
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(storeName));
#endif
}

QString autorunCommand()
{
#ifdef Q_OS_WIN
    QString dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!dir.endsWith(QLatin1Char('\\')))
        dir += QLatin1Char('\\');
    // Quoted: unquoted, C:\Program Files\... would be read as C:\Program.exe first.
    return QLatin1Char('"') + dir + QLatin1String("Trelvant.exe\"");
#else
    return QCoreApplication::applicationFilePath();
#endif
}

} // namespace options

#ifdef Q_OS_WIN

AutostartEntry::AutostartEntry()
    : runKey(new QSettings(QLatin1String(runKeyPath), QSettings::NativeFormat))
{}

void AutostartEntry::write(const QString &command)
{
    runKey->setValue(QLatin1String(storeName), command);
}

void AutostartEntry::remove()
{
    runKey->remove(QLatin1String(storeName));
}

#else

AutostartEntry::AutostartEntry()
    : entryPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                QLatin1String("/autostart/") + QLatin1String(storeName) + QLatin1String(".desktop"))
{}

void AutostartEntry::write(const QString &command)
{
    QDir().mkpath(QFileInfo(entryPath).absolutePath());
    QSaveFile file(entryPath);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(desktopEntry(command).toUtf8());
        file.commit();
    }
}

void AutostartEntry::remove()
{
    QFile::remove(entryPath);
}

#endif

AutostartEntry::~AutostartEntry()
{
    delete runKey;
}

namespace platform {

#ifdef Q_OS_WIN

namespace {

// The \\?\ form reaches paths of any length, past the 260 characters a
// plain path may have, as Qt's own file functions do.
std::wstring longPath(const QString &path)
{
    QString native = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith(QLatin1String("\\\\?\\")) || native.startsWith(QLatin1String("\\\\.\\")))
        return native.toStdWString();
    if (native.startsWith(QLatin1String("\\\\"))) // \\server\share
        return QString(QLatin1String("\\\\?\\UNC\\") + native.mid(2)).toStdWString();
    return QString(QLatin1String("\\\\?\\") + native).toStdWString();
}

HANDLE osHandle(const QFileDevice &file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
}

} // namespace

bool hasLeftItsPath(const QFileDevice &file)
{
    BY_HANDLE_FILE_INFORMATION open{}, atPath{};
    const HANDLE handle = osHandle(file);
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &open))
        return false;
    // Opened for no access at all, so it never stands in the way of anyone.
    const HANDLE other = CreateFileW(longPath(file.fileName()).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        // A sharing violation or a denied access says nothing about the file.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    const bool known = GetFileInformationByHandle(other, &atPath);
    CloseHandle(other);
    return known && (open.dwVolumeSerialNumber != atPath.dwVolumeSerialNumber ||
                     open.nFileIndexHigh != atPath.nFileIndexHigh ||
                     open.nFileIndexLow != atPath.nFileIndexLow);
}

qintptr duplicateHandle(const QFileDevice &file)
{
    HANDLE copy = nullptr;
    const HANDLE process = GetCurrentProcess();
    const HANDLE handle = osHandle(file);
    if (handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(process, handle, process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return -1;
    return reinterpret_cast<qintptr>(copy);
}

bool syncAndClose(qintptr handle)
{
    const auto h = reinterpret_cast<HANDLE>(handle);
    const bool synced = FlushFileBuffers(h);
    CloseHandle(h);
    return synced;
}

bool syncFolder(const QString &)
{
    return true;
}

qint64 droppedDatagrams(qintptr)
{
    return -1;
}

void handleTerminationRequests() {}

QString runtimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

QString instanceServerName(const QString &)
{
    // Named pipes are seen machine-wide: the user's name keeps users apart.
    return QLatin1String("Trelvant-") + qEnvironmentVariable("USERNAME");
}

// --- the service on Windows

namespace {
const wchar_t serviceName[] = L"Trelvant";
} // namespace

QString serviceSocketName()
{
    return QStringLiteral("Trelvant-service");
}

// The folder the installer made for it ($APPDATA for all users there).
QString serviceDataFolder()
{
    wchar_t *programData = nullptr;
    QString folder = QStringLiteral("C:/ProgramData");
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData)))
        folder = QString::fromWCharArray(programData);
    CoTaskMemFree(programData);
    return QDir::toNativeSeparators(folder + QLatin1String("/Scalvanto/WeightData"));
}

namespace {

// Whether the client of the pipe `peer` belongs to the group of the given
// well-known SID: asked of its own token, while the service stands in for it.
bool clientIsIn(QLocalSocket &peer, WELL_KNOWN_SID_TYPE group)
{
    if (!ImpersonateNamedPipeClient(reinterpret_cast<HANDLE>(peer.socketDescriptor())))
        return false;
    BOOL member = FALSE;
    HANDLE token = nullptr;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        if (!CreateWellKnownSid(group, nullptr, sid, &size) ||
            !CheckTokenMembership(token, sid, &member))
            member = FALSE;
        CloseHandle(token);
    }
    RevertToSelf();
    return member;
}

} // namespace

// Elevated administrators only: under User Account Control an
// administrator's ordinary programs carry the Administrators group for deny
// only, so CheckTokenMembership() says no until the program runs elevated.
QString whoMayChange(QLocalSocket &peer)
{
    return clientIsIn(peer, WinBuiltinAdministratorsSid) ? QString()
                                                         : QStringLiteral("administrators");
}

// A client that came over the network carries the NETWORK group.
bool isRemotePeer(QLocalSocket &peer)
{
    return clientIsIn(peer, WinNetworkSid);
}

bool isServiceProcess(QLocalSocket &server)
{
    ULONG pipeServer = 0;
    if (!GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(server.socketDescriptor()),
                                     &pipeServer))
        return false;
    bool same = false;
    if (SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
        if (SC_HANDLE service = OpenServiceW(manager, serviceName, SERVICE_QUERY_STATUS)) {
            SERVICE_STATUS_PROCESS status{};
            DWORD size = 0;
            same = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE *>(&status), sizeof status, &size) &&
                   status.dwProcessId == pipeServer;
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    return same;
}

void logWarning(const QString &text)
{
    // The source is registered by the installer, with Trelvant.exe's message
    // table: message 1 is the text itself.
    static const HANDLE source = RegisterEventSourceW(nullptr, L"Trelvant");
    const std::wstring message = text.toStdWString();
    const wchar_t *strings[] = {message.c_str()};
    if (!source ||
        !ReportEventW(source, EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr))
        fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

namespace {

SERVICE_STATUS_HANDLE serviceStatus = nullptr;
HANDLE serviceStarted = nullptr; // the dispatcher called serviceMain, or gave up
HANDLE serviceStopped = nullptr; // the program is done: serviceMain may return
DWORD dispatcherError = 0;

void report(DWORD state, DWORD exitCode = 0)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
    SetServiceStatus(serviceStatus, &status);
}

// Called in the dispatcher's thread: the program's own thread ends its event
// loop, stores what was read, and reports the stop itself.
DWORD WINAPI control(DWORD code, DWORD, void *, void *)
{
    if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        return NO_ERROR;
    }
    return code == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI serviceMain(DWORD, wchar_t **)
{
    serviceStatus = RegisterServiceCtrlHandlerExW(serviceName, control, nullptr);
    report(SERVICE_START_PENDING);
    SetEvent(serviceStarted);
    WaitForSingleObject(serviceStopped, INFINITE);
}

} // namespace

int runAsService(const std::function<int()> &body)
{
    // The dispatcher keeps its thread until the service stops; the program's
    // event loop runs in the main thread, as Qt wants it.
    serviceStarted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    serviceStopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread dispatcher([] {
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t *>(serviceName), serviceMain},
                                        {nullptr, nullptr}};
        if (!StartServiceCtrlDispatcherW(table))
            dispatcherError = GetLastError();
        SetEvent(serviceStarted);
    });
    WaitForSingleObject(serviceStarted, INFINITE);
    if (dispatcherError != 0) { // not started by the service manager: run as it is
        dispatcher.join();
        return body();
    }
    report(SERVICE_RUNNING);
    const int code = body();
    report(SERVICE_STOPPED, DWORD(code));
    SetEvent(serviceStopped);
    dispatcher.join();
    return code;
}

#else

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

#endif

// Connected to a peer that never sends, the socket matches no datagram any
// more; the system hands them to the other socket on the port.
void stopTakingDatagrams(qintptr socket)
{
#ifdef Q_OS_WIN
    const auto native = SOCKET(socket);
    int size = sizeof(sockaddr_storage);
#else
    const int native = int(socket);
    socklen_t size = sizeof(sockaddr_storage);
#endif
    sockaddr_storage own{};
    if (::getsockname(native, reinterpret_cast<sockaddr *>(&own), &size) == 0 &&
        own.ss_family == AF_INET) {
        sockaddr_in nowhere{};
        nowhere.sin_family = AF_INET;
        nowhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        nowhere.sin_port = htons(1);
        ::connect(native, reinterpret_cast<const sockaddr *>(&nowhere), sizeof nowhere);
        return;
    }
    sockaddr_in6 nowhere{};
    nowhere.sin6_family = AF_INET6;
    nowhere.sin6_addr = in6addr_loopback;
    nowhere.sin6_port = htons(1);
    ::connect(native, reinterpret_cast<const sockaddr *>(&nowhere), sizeof nowhere);
}

QString instanceLockPath()
{
    return runtimeFolder() + QLatin1String("/Trelvant.lock");
}

} // namespace platform
