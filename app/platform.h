#pragma once

#include <QString>

class QFileDevice;

// What differs between Windows and other systems, beyond the stored options
// and the start at login (options.h, autostart.h), all of it implemented in
// platform.cpp.
namespace platform {

// Whether the open `file` is still the file at its path: false once it, or a
// folder above it, was deleted, renamed or replaced by something else.
bool isSameFile(const QFileDevice &file);

// A request from the system to end the program (SIGTERM, SIGINT, SIGHUP)
// ends the event loop as a confirmed quit does, so the program stores what it
// has received and exits 0; a file size limit (SIGXFSZ) becomes an ordinary
// failed write. On Windows the end of the session reaches the application as
// aboutToQuit instead, and nothing needs installing. Call once, after the
// application object exists.
void handleTerminationRequests();

// The user's own runtime folder; the lock file there marks the user's
// running instance, which listens on a local socket of the given name.
QString runtimeFolder();
QString instanceLockPath();
QString instanceServerName(const QString &runtimeFolder);

} // namespace platform
