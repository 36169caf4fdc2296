// Everything that differs between Windows and other systems for the stored
// options and the start at login.
#include "settings/autostart.h"
#include "settings/options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

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
    return dir + QLatin1String("Trelvant.exe");
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

QString AutostartEntry::location() const
{
    return QLatin1String(runKeyPath);
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

QString AutostartEntry::location() const
{
    return entryPath;
}

#endif

AutostartEntry::~AutostartEntry()
{
    delete runKey;
}
