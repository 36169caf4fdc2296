// What Windows does its own way: file identity and syncing, the user's
// running instance, the service with its pipe and event log.
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>
#include <QWinEventNotifier>

// Winsock before windows.h, and windows.h before the rest.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <io.h>
#include <knownfolders.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <thread>

namespace platform {

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

QString serviceSocketFolder()
{
    return {};
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

// The SID of the account of `token`, as text; the token is closed.
QString userSid(HANDLE token)
{
    QString text;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    wchar_t *sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &sid)) {
        text = QString::fromWCharArray(sid);
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
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

QString peerAccount(QLocalSocket &peer)
{
    if (!ImpersonateNamedPipeClient(reinterpret_cast<HANDLE>(peer.socketDescriptor())))
        return {};
    QString account;
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
        account = userSid(token);
    RevertToSelf();
    return account;
}

// A client that came over the network carries the NETWORK group.
bool isRemotePeer(QLocalSocket &peer)
{
    return clientIsIn(peer, WinNetworkSid);
}

namespace {

std::wstring pipePath(const QString &name)
{
    return QString(QLatin1String("\\\\.\\pipe\\") + name).toStdWString();
}

// Whether the server end of `pipe` is the process the service manager runs
// as the service.
bool isServiceProcess(HANDLE pipe)
{
    ULONG pipeServer = 0;
    if (!GetNamedPipeServerProcessId(pipe, &pipeServer))
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

// The SID of the account this process runs under, as text.
QString ownSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    return userSid(token);
}

// What other accounts may do with the service's pipe: read and write data,
// read its attributes, wait on it. Not add instances, not change its rights.
constexpr DWORD watcherAccess =
    FILE_READ_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD pipeBufferBytes = 64 * 1024;
constexpr int instanceRetryMs = 1000;

// The service's pipe: one instance waits for a watcher at a time, and a new
// one is made as each is taken.
class PipeListener : public QObject
{
public:
    PipeListener(std::wstring path_, std::function<void(QLocalSocket *)> welcome_)
        : path(std::move(path_)), welcome(std::move(welcome_)),
          connected(CreateEventW(nullptr, TRUE, FALSE, nullptr)), notifier(connected)
    {
        QObject::connect(&notifier, &QWinEventNotifier::activated, this, &PipeListener::take);
    }
    ~PipeListener() override
    {
        notifier.setEnabled(false);
        if (pipe != INVALID_HANDLE_VALUE) {
            // The wait is over before its OVERLAPPED and its event go.
            DWORD ignored = 0;
            if (CancelIoEx(pipe, &overlapped) || GetLastError() != ERROR_NOT_FOUND)
                GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
            CloseHandle(pipe);
        }
        LocalFree(descriptor);
        CloseHandle(connected);
    }

    bool listen(QString *problem)
    {
        const QString sddl = QLatin1String("D:P(A;;GA;;;SY)(A;;GA;;;") + ownSid() +
                             QLatin1String(")(A;;0x") + QString::number(watcherAccess, 16) +
                             QLatin1String(";;;AU)");
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
                reinterpret_cast<const wchar_t *>(sddl.utf16()), SDDL_REVISION_1, &descriptor,
                nullptr)) {
            *problem = QStringLiteral("error %1").arg(GetLastError());
            return false;
        }
        return nextInstance(true, problem);
    }

private:
    bool nextInstance(bool first, QString *problem)
    {
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        pipe = CreateNamedPipeW(
            path.c_str(),
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            PIPE_UNLIMITED_INSTANCES, pipeBufferBytes, pipeBufferBytes, 0, &attributes);
        if (pipe == INVALID_HANDLE_VALUE) {
            if (problem)
                *problem = QStringLiteral("error %1").arg(GetLastError());
            QTimer::singleShot(instanceRetryMs, this, [this] { nextInstance(false, nullptr); });
            return false;
        }
        overlapped = {};
        overlapped.hEvent = connected;
        ResetEvent(connected);
        connectedAlready = false;
        if (!ConnectNamedPipe(pipe, &overlapped)) {
            const DWORD error = GetLastError();
            if (error == ERROR_PIPE_CONNECTED) {
                // A client came between the two calls: no I/O is pending.
                connectedAlready = true;
                SetEvent(connected);
            } else if (error != ERROR_IO_PENDING) {
                CloseHandle(std::exchange(pipe, INVALID_HANDLE_VALUE));
                QTimer::singleShot(instanceRetryMs, this, [this] { nextInstance(false, nullptr); });
            }
        }
        return true;
    }

    void take()
    {
        ResetEvent(connected);
        DWORD ignored = 0;
        const HANDLE taken = std::exchange(pipe, INVALID_HANDLE_VALUE);
        if (taken != INVALID_HANDLE_VALUE &&
            (connectedAlready || GetOverlappedResult(taken, &overlapped, &ignored, FALSE))) {
            auto *socket = new QLocalSocket(this);
            socket->setSocketDescriptor(reinterpret_cast<qintptr>(taken));
            nextInstance(false, nullptr);
            welcome(socket);
            return;
        }
        if (taken != INVALID_HANDLE_VALUE)
            CloseHandle(taken);
        nextInstance(false, nullptr);
    }

    const std::wstring path;
    const std::function<void(QLocalSocket *)> welcome;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    bool connectedAlready = false;
    const HANDLE connected;
    QWinEventNotifier notifier;
};

} // namespace

std::unique_ptr<QObject> listenForWatchers(const QString &name,
                                           std::function<void(QLocalSocket *)> welcome,
                                           QString *problem)
{
    auto listener = std::make_unique<PipeListener>(pipePath(name), std::move(welcome));
    if (!listener->listen(problem))
        return nullptr;
    return listener;
}

void connectToService(QLocalSocket &socket)
{
    const HANDLE pipe = CreateFileW(
        pipePath(serviceSocketName()).c_str(), watcherAccess, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return;
    if (!isServiceProcess(pipe)) {
        CloseHandle(pipe);
        return;
    }
    socket.setSocketDescriptor(reinterpret_cast<qintptr>(pipe));
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

// --- the receiving socket: freed for the service, never moved

bool giveSocket(qintptr, const QString &, int)
{
    return false;
}

std::unique_ptr<QObject> receiveSockets(const QString &, SocketTaker)
{
    return nullptr;
}

} // namespace platform
