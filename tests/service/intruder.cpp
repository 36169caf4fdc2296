// Another program on the same computer, run by the tests as the test's own
// account or as another one: a watcher of the service, a program after the
// scales' port, a client that stalls the service. One line of output a
// thing it saw.
//
//   intruder watch PORT          who may change the service's options; asks
//                                to move it to PORT and says what it answered;
//                                then today's records it is given: "day: N
//                                records; record lines: M" or "...; records
//                                refused: WHO"
//   intruder bind PORT ADDRESS   binds the UDP port as a program that wants
//                                to share it would: "bound" or "refused"
//   intruder hog                 greets the service, then asks for its options
//                                without end and reads nothing: "dropped"
//                                once the service lets it go
//   intruder silent COUNT        opens COUNT connections to the service and
//                                says nothing on them: "open N" for those the
//                                service kept, then waits to be ended
//   intruder crowd COUNT         opens COUNT connections to the service, each
//                                a watcher that greets it: "open N" for those
//                                the service kept, then "gone" for each it
//                                lets go, until ended
//   intruder offer PORT [ADDRESS] binds the UDP port, on every address or
//                                on ADDRESS, as a program of its own would
//                                ("bound"), then, at a line on its
//                                input, offers the socket to the service as
//                                a tray program hands it over: "taken" or
//                                "refused"
//   intruder pretend PORT        answers at the service's socket as a service
//                                receiving on PORT would: "connected" for
//                                each program that connects, "written" when
//                                one sends it anything
//   intruder addresses           (Linux, in a network namespace of its own)
//                                watches the addresses as the program does,
//                                then brings the loopback up, which gives it
//                                its addresses: "changed" when the watch
//                                wakes, "silent" if it does not in 5 s
//
// The service's socket is found from RUNTIME_DIRECTORY, as the program finds it.
#include "platform/platform.h"
#include "service/protocol.h"
#include "service/serviceclient.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <memory>
#include <vector>

#ifdef Q_OS_LINUX
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

QTextStream out(stdout);

int watch(quint16 port)
{
    ServiceClient service;
    if (!service.connectNow(5000)) {
        out << "unreachable\n";
        return 1;
    }
    out << "may change: " << (service.whoMayChange().isEmpty() ? "yes" : service.whoMayChange())
        << '\n';
    const auto askDay = [&service] { service.requestDay(QDate::currentDate(), true); };
    QObject::connect(&service, &ServiceClient::refused, qApp, [askDay](const QString &who) {
        out << "refused: " << who << '\n';
        askDay();
    });
    QObject::connect(&service, &ServiceClient::optionsChanged, qApp,
                     [askDay](const options::Values &options) {
                         out << "port: " << options.udpPort << '\n';
                         askDay();
                     });
    QObject::connect(&service, &ServiceClient::dayRead, qApp, [](const status::DayAnswer &day) {
        out << "day: " << day.report.records << " records; ";
        if (day.whoMayRead.isEmpty())
            out << "record lines: " << day.records.count('\n') << '\n';
        else
            out << "records refused: " << day.whoMayRead << '\n';
        qApp->quit();
    });
    options::Values request = service.options();
    request.udpPort = port;
    service.apply(request, request.filePath);
    return QCoreApplication::exec();
}

int bind(quint16 port, const QString &address)
{
    QUdpSocket thief;
    const bool bound = thief.bind(QHostAddress(address), port,
                                  QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    out << (bound ? "bound" : "refused") << '\n';
    return 0;
}

bool connectToService(QLocalSocket &socket)
{
    socket.connectToServer(platform::serviceSocketName());
    return socket.waitForConnected(5000);
}

int hog()
{
    QLocalSocket socket;
    if (!connectToService(socket)) {
        out << "unreachable\n";
        return 1;
    }
    QByteArray requests;
    while (requests.size() < 64 * 1024)
        requests += protocol::frame({protocol::GetOptions, {}});
    QElapsedTimer time;
    time.start();
    while (socket.state() == QLocalSocket::ConnectedState && time.elapsed() < 30000) {
        if (socket.bytesToWrite() < requests.size())
            socket.write(requests);
        socket.waitForBytesWritten(100);
        if (socket.state() == QLocalSocket::ConnectedState)
            socket.waitForDisconnected(0);
    }
    out << (socket.state() == QLocalSocket::ConnectedState ? "still connected" : "dropped") << '\n';
    return 0;
}

int silent(int count)
{
    std::vector<std::unique_ptr<QLocalSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        sockets.push_back(std::make_unique<QLocalSocket>());
        connectToService(*sockets.back());
    }
    QThread::msleep(500); // the service turns away what it will not keep
    int open = 0;
    for (auto &socket : sockets) {
        if (socket->state() == QLocalSocket::ConnectedState)
            socket->waitForDisconnected(0);
        open += socket->state() == QLocalSocket::ConnectedState;
    }
    out << "open " << open << '\n';
    out.flush();
    return QCoreApplication::exec();
}

int offer(quint16 port, const QString &address)
{
    QUdpSocket socket;
    const QHostAddress on =
        address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(address);
    if (!socket.bind(on, port, QUdpSocket::DontShareAddress)) {
        out << "not bound\n";
        return 1;
    }
    out << "bound\n";
    out.flush();
    QTextStream(stdin).readLine();
    const bool taken =
        platform::giveSocket(socket.socketDescriptor(), platform::serviceSocketName(), 2000);
    out << (taken ? "taken" : "refused") << '\n';
    return 0;
}

int crowd(int count)
{
    std::vector<std::unique_ptr<ServiceClient>> watchers;
    int open = 0;
    for (int i = 0; i < count; ++i) {
        watchers.push_back(std::make_unique<ServiceClient>());
        open += watchers.back()->connectNow(5000);
    }
    out << "open " << open << '\n';
    out.flush();
    for (const auto &watcher : watchers) {
        QObject::connect(watcher.get(), &ServiceClient::disconnected, [] {
            out << "gone\n";
            out.flush();
        });
    }
    return QCoreApplication::exec();
}

int pretend(quint16 port)
{
    QLocalServer server;
    QLocalServer::removeServer(platform::serviceSocketName());
    if (!server.listen(platform::serviceSocketName())) {
        out << "not listening\n";
        return 1;
    }
    out << "listening\n";
    out.flush();
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&server, port] {
        while (QLocalSocket *peer = server.nextPendingConnection()) {
            out << "connected\n";
            out.flush();
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [] {
                out << "written\n";
                out.flush();
            });
            protocol::send(
                peer, protocol::Hello,
                {{"version", protocol::version}, {"receiving", true}, {"whoMayChange", ""}});
            protocol::send(peer, protocol::Options, {{"udpPort", port}});
        }
    });
    return QCoreApplication::exec();
}

#ifdef Q_OS_LINUX
int addresses()
{
    const std::unique_ptr<QObject> watch = platform::watchAddresses([] {
        out << "changed\n";
        out.flush();
        QCoreApplication::exit(0);
    });
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &lo) == 0 &&
                    (lo.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &lo) == 0);
    if (fd >= 0)
        ::close(fd);
    if (!watch || !up) {
        out << "cannot change addresses\n";
        return 1;
    }
    QTimer::singleShot(5000, [] {
        out << "silent\n";
        out.flush();
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}
#endif

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    if (mode == "watch" && args.size() == 2)
        return watch(quint16(args[1].toUInt()));
    if (mode == "bind" && args.size() == 3)
        return bind(quint16(args[1].toUInt()), args[2]);
    if (mode == "hog" && args.size() == 1)
        return hog();
    if (mode == "silent" && args.size() == 2)
        return silent(args[1].toInt());
    if (mode == "offer" && (args.size() == 2 || args.size() == 3))
        return offer(quint16(args[1].toUInt()), args.value(2));
    if (mode == "crowd" && args.size() == 2)
        return crowd(args[1].toInt());
    if (mode == "pretend" && args.size() == 2)
        return pretend(quint16(args[1].toUInt()));
#ifdef Q_OS_LINUX
    if (mode == "addresses" && args.size() == 1)
        return addresses();
#endif
    out << "usage: intruder watch PORT | bind PORT ADDRESS | hog | silent COUNT | crowd COUNT\n"
           "       | offer PORT [ADDRESS] | pretend PORT | addresses\n";
    return 2;
}
