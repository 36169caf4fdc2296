#pragma once

#include <QString>

#include <functional>
#include <memory>

class QFileDevice;
class QObject;
class QLocalSocket;

#if !defined(Q_OS_WIN) && !defined(Q_OS_LINUX)
#error "Scalvanto is built for Windows and Linux"
#endif

// What differs between Windows and Linux, beyond the stored options and the
// start at login (settings_win.cpp, settings_linux.cpp): platform_win.cpp and
// platform_linux.cpp, chosen by the build, with what both share in
// platform.cpp.
namespace platform {

// True only when the system says for certain that the open `file` is no
// longer the file at its path: the path is gone (it, or a folder above it,
// was deleted or renamed) or names another file. An answer the system cannot
// give (no access, a network folder that stalls, a path Windows will not
// take) is false: a healthy file must not be given up on a doubt.
bool hasLeftItsPath(const QFileDevice &file);

// A handle of its own on an open file, which stays valid after the file is
// closed, so that what was written can be made durable later; -1 on failure.
qintptr duplicateHandle(const QFileDevice &file);
// Waits until what was written through `handle` is on the disk (fdatasync,
// FlushFileBuffers), then closes the handle. False when the system could
// not say so.
bool syncAndClose(qintptr handle);
// Makes the names of files created in `folder` durable (Linux); Windows
// keeps them with the files.
bool syncFolder(const QString &folder);

// Datagrams the system dropped for the UDP socket `socket` because its
// receive buffer was full; -1 where the system does not count them (Windows).
qint64 droppedDatagrams(qintptr socket);

// Calls `changed` (in the thread that asked) whenever an address of this
// computer comes or goes, as the system tells it: netlink on Linux, the IP
// Helper's notifications on Windows. The watch lasts as long as the object;
// null when the system will not tell.
std::unique_ptr<QObject> watchAddresses(std::function<void()> changed);

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

// The service, which receives while nobody is signed in.

// Where it listens for the tray programs that watch it: a socket in its
// runtime folder ($RUNTIME_DIRECTORY, which systemd sets for it, else
// /run/trelvant), a named pipe on Windows.
QString serviceSocketName();
// The folder its socket appears in when it starts, for a tray program to
// watch instead of trying every second; empty where the socket is no file
// (a named pipe on Windows).
QString serviceSocketFolder();
// Listens there and hands each new connection to `welcome`. Linux: a local
// socket any account may connect to. Windows: a pipe the service makes
// itself, closed to other machines, that the system and the service may do
// anything with and other accounts may only read and write (a pipe made
// the usual way lets anyone add instances of it or change its rights); it
// must be the first of its name, so a program that took the name first
// keeps the service from listening rather than listening beside it. The
// connections are the listener's children. Null, with `problem` set, when
// listening fails.
std::unique_ptr<QObject> listenForWatchers(const QString &name,
                                           std::function<void(QLocalSocket *)> welcome,
                                           QString *problem);
// Connects a tray program's `socket` to the service, only when what answers
// is the service itself, before a byte is written: on Windows anyone may
// make a pipe of that name, so the pipe's server must be the process the
// service manager runs, and the pipe is opened at identification level, so
// that no server can act as the tray program's user. Elsewhere the
// socket's folder is the system's. The socket reports ConnectedState when
// it is.
void connectToService(QLocalSocket &socket);
// Its data folder when it was given none, where it differs from a user's:
// %ProgramData%\Scalvanto\WeightData on Windows. Empty on Linux, where it is
// WeightData in the service account's home, as for any user.
QString serviceDataFolder();
// Empty when the program at the other end of the service's socket may
// change the service's options; else who may: "group:NAME" (the members of
// the service's group, and root) on Linux, "administrators" (elevated) on
// Windows. Ask once the peer has sent something.
QString whoMayChange(QLocalSocket &peer);
// Who is at the other end of the service's socket, as a name that tells
// accounts apart (their number on Linux, their SID on Windows). Linux knows
// it at once; Windows once the peer has sent something, empty before.
QString peerAccount(QLocalSocket &peer);
// Whether the peer of the service's socket is on another machine (a named
// pipe is reachable over the network on Windows): it is turned away.
bool isRemotePeer(QLocalSocket &peer);
// Where the system keeps services' logs: standard error, which the journal
// takes, on Linux; the application event log on Windows.
void logWarning(const QString &text);
// Runs `body` as a service: on Windows, when the service manager started the
// program, it speaks the service control protocol around it (a stop request
// ends the event loop, the exit code is reported); otherwise, and elsewhere,
// `body` just runs.
int runAsService(const std::function<int()> &body);

// Moving the receiving socket from a tray program to the service, so that
// not one datagram is lost on the way: the socket itself changes hands,
// with what waits in it. Linux passes it over a local socket beside the
// service's own; Windows cannot (duplicating a socket into another process
// needs a handle to that process, which an ordinary user's program may not
// open), and there the tray program frees the port for the service instead.

// Offers the UDP socket `socket` to the service whose socket is
// `serviceSocket`, waiting up to `waitMs` for its answer; true when the
// service took it and now holds it. Always false where sockets cannot move.
bool giveSocket(qintptr socket, const QString &serviceSocket, int waitMs);
// The service's end: listens beside `serviceSocket` for the sockets tray
// programs give. Only a program whose user may change the service is
// heard (another could keep a copy of the socket and read the weighings
// from it), and only an unconnected UDP socket bound to all of the
// computer's addresses reaches `take`, with the port it is bound to; `take`
// says whether it keeps it. Null where sockets cannot move, or when the
// listening fails.
using SocketTaker = std::function<bool(qintptr socket, quint16 port)>;
std::unique_ptr<QObject> receiveSockets(const QString &serviceSocket, SocketTaker take);

} // namespace platform
