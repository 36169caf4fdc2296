#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QVariantMap>

#ifdef Q_OS_UNIX
#include <sys/types.h>
#endif

// A throw-away home for running Trelvant outside a test process: HOME, the
// configuration and the runtime folder of its own, the options stored where
// the program reads them, a free UDP port and the data folder inside. On
// Windows the options live in the user's registry key, cleared again when
// the sandbox goes, so only one sandbox runs there at a time.
class Sandbox
{
public:
    // English, balloons off, a free port and the data folder "data" in the
    // home, changed or completed by `options`.
    explicit Sandbox(const QVariantMap &options = {});
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    QString home() const { return dir.path(); }
    // Where a service started here listens; a program started in another
    // sandbox that follows this one finds it there.
    QString serviceFolder() const { return service; }
    void followService(const Sandbox &other) { service = other.service; }
    QString dataFolder() const { return data; }
    quint16 port() const { return udpPort; }
    QProcessEnvironment environment() const;
    // An option as stored in the sandbox now.
    QVariant stored(const QString &key) const;
    // Leaves the home, its data and the stored options behind.
    void keep(bool on);

#ifdef Q_OS_UNIX
    // Hands the home to the account `user` and makes `process` run as that
    // account when it starts: as root, the only way to meet the limits an
    // ordinary user meets (root may read and write anywhere). start() then
    // runs a copy of the program that the account can reach.
    bool handTo(QProcess &process, const char *user);
    // Makes `process` run as the account `user` when it starts; false if
    // there is no such account.
    static bool runAs(QProcess &process, const char *user);
    // Likewise as the user and group numbers given, which need no account.
    static void runAs(QProcess &process, uid_t uid, gid_t gid);
    // A copy of `program` in a folder any account may enter: the build may
    // lie where only its owner may go (a home of mode 700 under /root).
    static QString reachableCopy(const QString &program);
#endif
    // Starts the program in the sandbox and, with `waitReady`, waits until it
    // files datagrams: a record-less transfer is sent until its data file
    // (a header and no line) appears.
    bool start(QProcess &process, const QString &program, bool waitReady = true,
               const QStringList &arguments = {}) const;
    // Until a program started some other way files datagrams (a record-less
    // transfer is sent until its data file appears); false if that does not
    // happen in time or `process`, if given, ends first.
    bool waitUntilFiling(const QProcess *process = nullptr) const;
    void send(const QByteArray &datagram) const;
    // Waits until the program has handled what was sent to it so far: two
    // turns of its event loop, seen through its instance socket (which
    // brings its options window up).
    bool settle() const;

    // The record lines of every data file under the data folder, without
    // line ends, in the order of the files' date folders and numbers.
    QList<QByteArray> records() const;
    // The first data file that is not a header and whole CR LF lines, or "".
    QString damagedFile() const;
    QStringList dataFiles() const;

private:
    QTemporaryDir dir;
    QString data;
    QString service;
    quint16 udpPort = 0;
    bool kept = false;
    bool handedOver = false;
};

quint16 freeUdpPort();
