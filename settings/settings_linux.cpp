// The options and the start at login on Linux: $XDG_CONFIG_HOME/Ponderix.conf,
// and an XDG autostart desktop entry.
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
} // namespace

namespace options {

QSettings *openStore()
{
    // Section [General] of the file.
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(storeName));
}

QString autorunCommand()
{
    return QCoreApplication::applicationFilePath();
}

} // namespace options

AutostartEntry::AutostartEntry()
    : entryPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                QLatin1String("/autostart/") + QLatin1String(storeName) + QLatin1String(".desktop"))
{}

AutostartEntry::~AutostartEntry() = default;

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
