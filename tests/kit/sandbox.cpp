#include "sandbox.h"

#include "datagrams.h"
#include "files/datafiles.h"
#include "i18n/strings.h"
#include "platform/platform.h"
#include "settings/options.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>
#include <QUdpSocket>

#include <memory>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

constexpr int readyMs = 15000;
constexpr int resendMs = 100;

// The lines of a data file's header, however long the program makes it.
int headerLines()
{
    return int(datafiles::header(strings::english).count(QLatin1Char('\n')));
}

// The home whose options this process reads: that of the sandbox made last,
// where a test's own Trelvant finds its options.
QString processHome;

// The options stored in the sandbox at `home`. The path they are found by is
// the whole process's: it goes back to `processHome` once they are open.
std::unique_ptr<QSettings> store(const QString &home)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home + "/.config");
    std::unique_ptr<QSettings> s(options::openStore());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, processHome + "/.config");
    return s;
}

} // namespace

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    return probe.localPort();
}

Sandbox::Sandbox(const QVariantMap &options)
    : data(dir.filePath(QStringLiteral("data"))), udpPort(freeUdpPort())
{
    QVariantMap all{{"FilePath", QDir::toNativeSeparators(data)},
                    {"UdpPort", int(udpPort)},
                    {"Language", "English"},
                    {"ShowTrayMessage", false},
                    {"AutoLoad", false}};
    all.insert(options);
    udpPort = quint16(all.value("UdpPort").toInt());
    // An empty folder stands for the program's default, in the home it is given.
    if (all.value("FilePath").toString().isEmpty())
#ifdef Q_OS_WIN
        data = QDir::homePath() + "/WeightData";
#else
        data = dir.filePath("WeightData");
#endif
    else
        data = QDir::fromNativeSeparators(all.value("FilePath").toString());
    service = home() + "/service";
    QDir().mkpath(service);
    processHome = home();
    auto s = store(home());
    s->clear();
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        s->setValue(it.key(), it.value());
}

void Sandbox::keep(bool on)
{
    kept = on;
    dir.setAutoRemove(!on);
}

Sandbox::~Sandbox()
{
    if (kept)
        return;
    store(home())->clear();
#ifdef Q_OS_WIN
    QSettings("HKEY_CURRENT_USER\\Software", QSettings::NativeFormat).remove("Ponderix");
    QSettings("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
              QSettings::NativeFormat)
        .remove("Ponderix");
#endif
}

QVariant Sandbox::stored(const QString &key) const
{
    return store(home())->value(key);
}

QProcessEnvironment Sandbox::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home());
    env.insert("XDG_CONFIG_HOME", home() + "/.config");
    env.insert("XDG_RUNTIME_DIR", home());
    // Where a service would listen: never the machine's own service.
    env.insert("RUNTIME_DIRECTORY", service);
    if (!env.contains("QT_QPA_PLATFORM"))
        env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

#ifdef Q_OS_UNIX
bool Sandbox::runAs(QProcess &process, const char *user)
{
    const passwd *account = ::getpwnam(user);
    if (!account)
        return false;
    runAs(process, account->pw_uid, account->pw_gid);
    return true;
}

void Sandbox::runAs(QProcess &process, uid_t uid, gid_t gid)
{
    process.setChildProcessModifier([uid, gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(126);
    });
}

QString Sandbox::reachableCopy(const QString &program)
{
    static QTemporaryDir folder;
    static QHash<QString, QString> copies;
    if (const auto it = copies.constFind(program); it != copies.cend())
        return it.value();
    const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                    QFile::ExeOther;
    const QString copy =
        folder.filePath(QString::number(copies.size()) + '-' + QFileInfo(program).fileName());
    if (!QFile::setPermissions(folder.path(), open) || !QFile::copy(program, copy) ||
        !QFile::setPermissions(copy, open))
        return program;
    copies.insert(program, copy);
    return copy;
}

bool Sandbox::handTo(QProcess &process, const char *user)
{
    const passwd *account = ::getpwnam(user);
    if (!account || !runAs(process, user))
        return false;
    handedOver = true;
    const uid_t uid = account->pw_uid;
    const gid_t gid = account->pw_gid;
    bool owned = ::chown(QFile::encodeName(home()).constData(), uid, gid) == 0;
    QDirIterator it(home(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        owned = ::lchown(QFile::encodeName(it.next()).constData(), uid, gid) == 0 && owned;
    return owned;
}
#endif

bool Sandbox::start(QProcess &process, const QString &program, bool waitReady,
                    const QStringList &arguments) const
{
    process.setProcessEnvironment(environment());
    // The program's complaints go to the caller's log, unless it reads them.
    if (process.processChannelMode() == QProcess::SeparateChannels)
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
#ifdef Q_OS_UNIX
    process.start(handedOver ? reachableCopy(program) : program, arguments);
#else
    process.start(program, arguments);
#endif
    if (!process.waitForStarted())
        return false;
    return !waitReady || waitUntilFiling(&process);
}

bool Sandbox::waitUntilFiling(const QProcess *process) const
{
    const QDeadlineTimer ready(readyMs);
    while (dataFiles().isEmpty()) {
        if (ready.hasExpired() || (process && process->state() != QProcess::Running))
            return false;
        send(pluZero); // a transfer that makes a data file and writes no line
        QThread::msleep(resendMs);
    }
    return true;
}

void Sandbox::send(const QByteArray &datagram) const
{
    QUdpSocket sender;
    sender.writeDatagram(datagram, QHostAddress::LocalHost, udpPort);
}

bool Sandbox::settle() const
{
    for (int turn = 0; turn < 2; ++turn) {
        QLocalSocket socket;
        socket.connectToServer(platform::instanceServerName(home()));
        if (!socket.waitForConnected(readyMs) ||
            (socket.state() != QLocalSocket::UnconnectedState &&
             !socket.waitForDisconnected(readyMs)))
            return false;
    }
    return true;
}

QStringList Sandbox::dataFiles() const
{
    QStringList paths;
    QDirIterator it(dataFolder(), {"data_*.txt"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    const QRegularExpression number("data_(\\d+)\\.txt$");
    const auto key = [&](const QString &p) {
        return std::make_pair(QFileInfo(p).path(), number.match(p).captured(1).toLongLong());
    };
    std::sort(paths.begin(), paths.end(),
              [&](const QString &a, const QString &b) { return key(a) < key(b); });
    return paths;
}

QList<QByteArray> Sandbox::records() const
{
    QList<QByteArray> lines;
    for (const QString &path : dataFiles()) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QList<QByteArray> all = file.readAll().split('\n');
        for (qsizetype i = headerLines(); i + 1 < all.size(); ++i)
            lines << all.at(i).chopped(1);
    }
    return lines;
}

QString Sandbox::damagedFile() const
{
    for (const QString &path : dataFiles()) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        const QList<QByteArray> lines = bytes.split('\n');
        const int header = headerLines();
        bool whole = bytes.endsWith("\r\n") && lines.size() > header;
        for (qsizetype i = 0; whole && i + 1 < lines.size(); ++i)
            whole = lines.at(i).endsWith('\r') && lines.at(i).count('\r') == 1 &&
                    (i < header || lines.at(i).count(';') == 9);
        if (!whole)
            return path;
    }
    return {};
}
