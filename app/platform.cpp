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
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
const char *const storeName = "Ponderix";
#ifdef Q_OS_WIN
const char *const optionsKey = "HKEY_CURRENT_USER\\Software\\Ponderix";
const char *const runKeyPath = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";
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
{
}

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
                QLatin1String("/autostart/") + QLatin1String(storeName) +
                QLatin1String(".desktop"))
{
}

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

void handleTerminationRequests()
{
}

QString runtimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

QString instanceServerName(const QString &)
{
    // Named pipes are seen machine-wide: the user's name keeps users apart.
    return QLatin1String("Trelvant-") + qEnvironmentVariable("USERNAME");
}

#else

bool hasLeftItsPath(const QFileDevice &file)
{
    struct stat open{}, atPath{};
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
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
    struct sigaction action{};
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

#endif

QString instanceLockPath()
{
    return runtimeFolder() + QLatin1String("/Trelvant.lock");
}

} // namespace platform
