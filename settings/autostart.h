#pragma once

#include <QString>

class QSettings;

// The entry that starts the program when the user logs in: a value under the
// per-user Run key on Windows, an XDG autostart desktop entry elsewhere.
class AutostartEntry
{
public:
    AutostartEntry();
    ~AutostartEntry();
    AutostartEntry(const AutostartEntry &) = delete;
    AutostartEntry &operator=(const AutostartEntry &) = delete;

    void write(const QString &command);
    // Removing an entry that is not there is harmless.
    void remove();

    // A desktop entry whose Exec runs `program` without arguments.
    static QString desktopEntry(const QString &program);
    // `program` as one Exec argument, quoted where the format requires it.
    static QString execArgument(const QString &program);

private:
    QSettings *runKey = nullptr; // Windows only
    QString entryPath;           // elsewhere
};
