// The options and the start at login on Windows: values under the per-user
// registry key Ponderix, and a value of the per-user Run key.
#include "settings/autostart.h"
#include "settings/options.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

namespace {
const char *const storeName = "Ponderix";
const char *const optionsKey = "HKEY_CURRENT_USER\\Software\\Ponderix";
const char *const runKeyPath =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";
} // namespace

namespace options {

QSettings *openStore()
{
    return new QSettings(QLatin1String(optionsKey), QSettings::NativeFormat);
}

QString autorunCommand()
{
    QString dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (!dir.endsWith(QLatin1Char('\\')))
        dir += QLatin1Char('\\');
    // Quoted: unquoted, C:\Program Files\... would be read as C:\Program.exe first.
    return QLatin1Char('"') + dir + QLatin1String("Trelvant.exe\"");
}

} // namespace options

AutostartEntry::AutostartEntry()
    : runKey(new QSettings(QLatin1String(runKeyPath), QSettings::NativeFormat))
{}

AutostartEntry::~AutostartEntry()
{
    delete runKey;
}

void AutostartEntry::write(const QString &command)
{
    runKey->setValue(QLatin1String(storeName), command);
}

void AutostartEntry::remove()
{
    runKey->remove(QLatin1String(storeName));
}
