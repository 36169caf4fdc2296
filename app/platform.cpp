// Everything that differs between Windows and other systems: the stored
// options, the start at login, file identity, requests to end the program,
// and where the running instance is found.
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

#include <csignal>
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

bool isSameFile(const QFileDevice &file)
{
    BY_HANDLE_FILE_INFORMATION open{}, atPath{};
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &open))
        return false;
    // Opened for no access at all, so it never stands in the way of anyone.
    const HANDLE other = CreateFileW(reinterpret_cast<const wchar_t *>(
                                         QDir::toNativeSeparators(file.fileName()).utf16()),
                                     0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = GetFileInformationByHandle(other, &atPath);
    CloseHandle(other);
    return ok && open.dwVolumeSerialNumber == atPath.dwVolumeSerialNumber &&
           open.nFileIndexHigh == atPath.nFileIndexHigh && open.nFileIndexLow == atPath.nFileIndexLow;
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

bool isSameFile(const QFileDevice &file)
{
    struct stat open{}, atPath{};
    return ::fstat(file.handle(), &open) == 0 &&
           ::stat(QFile::encodeName(file.fileName()).constData(), &atPath) == 0 &&
           open.st_dev == atPath.st_dev && open.st_ino == atPath.st_ino;
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
