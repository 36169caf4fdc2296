// scale-sim: sends On-Line datagrams the way networked shop scales do, so the
// receiver can be tried and measured without a scale on the desk.

#include "frames.h"
#include "traffic.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QTextStream>
#include <QUdpSocket>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace scalesim;

namespace {

constexpr quint16 defaultPort = 5001;
constexpr int sendAttempts = 200; // a full socket buffer clears within a few ms
constexpr auto sendRetryPause = std::chrono::milliseconds(1);
constexpr int exitBadUsage = 2;
constexpr int exitSendFailed = 1;

struct Totals
{
    qint64 datagrams = 0;
    qint64 valid = 0;
    qint64 corrupt = 0;
    qint64 corruptByKind[corruptionKinds + 1] = {};
    qint64 records = 0; // plu != 0 in valid datagrams
    qint64 transfers = 0;
    qint64 failed = 0;
    qint64 lost = 0; // not sent on purpose
};

// Where the datagrams go: a UDP socket per scale, or hex lines on stdout.
class Sink
{
public:
    Sink(bool hex, const QHostAddress &target, quint16 port, int scales)
        : hexOut(hex), address(target), targetPort(port)
    {
        if (hexOut)
            return;
        const QHostAddress any(target.protocol() == QAbstractSocket::IPv6Protocol
                                   ? QHostAddress::AnyIPv6
                                   : QHostAddress::AnyIPv4);
        for (int i = 0; i < scales; ++i) {
            sockets.push_back(std::make_unique<QUdpSocket>());
            sockets.back()->bind(any, 0);
        }
    }

    bool send(int scale, const QByteArray &bytes)
    {
        if (hexOut) {
            const QByteArray line = bytes.toHex(' ').toUpper() + '\n';
            return std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout) ==
                   std::size_t(line.size());
        }
        QUdpSocket &socket = *sockets[std::size_t(scale)];
        for (int attempt = 0; attempt < sendAttempts; ++attempt) {
            if (socket.writeDatagram(bytes, address, targetPort) == bytes.size())
                return true;
            std::this_thread::sleep_for(sendRetryPause);
        }
        std::fprintf(stderr, "scale-sim: send failed: %s\n", qPrintable(socket.errorString()));
        return false;
    }

private:
    bool hexOut;
    QHostAddress address;
    quint16 targetPort;
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
};

[[noreturn]] void usageError(const QString &message)
{
    std::fprintf(stderr, "scale-sim: %s\n", qPrintable(message));
    std::exit(exitBadUsage);
}

qint64 intOption(const QCommandLineParser &parser, const QString &name, qint64 low, qint64 high)
{
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < low || value > high)
        usageError(
            QStringLiteral("--%1 wants a whole number from %2 to %3").arg(name).arg(low).arg(high));
    return value;
}

double percentOption(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < 0 || value > 100)
        usageError(QStringLiteral("--%1 wants a percentage from 0 to 100").arg(name));
    return value;
}

QHostAddress resolve(const QString &host)
{
    QHostAddress address(host);
    if (!address.isNull())
        return address;
    const QHostInfo info = QHostInfo::fromName(host);
    for (const QHostAddress &candidate : info.addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol)
            return candidate;
    }
    if (!info.addresses().isEmpty())
        return info.addresses().constFirst();
    usageError(QStringLiteral("cannot resolve host %1").arg(host));
}

void printTotals(FILE *to, const Totals &t, double seconds)
{
    std::fprintf(to, "datagrams:          %lld\n", t.datagrams);
    std::fprintf(to, "  valid:            %lld\n", t.valid);
    std::fprintf(to, "  corrupt:          %lld", t.corrupt);
    if (t.corrupt > 0) {
        const char *separator = " (";
        for (int k = 1; k <= corruptionKinds; ++k) {
            std::fprintf(to, "%s%s %lld", separator, corruptionName(Corruption(k)),
                         t.corruptByKind[k]);
            separator = ", ";
        }
        std::fprintf(to, ")");
    }
    std::fprintf(to, "\n  lost on purpose:  %lld", t.lost);
    std::fprintf(to, "\nrecords (plu != 0): %lld\n", t.records);
    std::fprintf(to, "transfers:          %lld\n", t.transfers);
    if (t.failed > 0)
        std::fprintf(to, "send failures:      %lld\n", t.failed);
    std::fprintf(to, "elapsed:            %.3f s\n", seconds);
    std::fprintf(to, "rate:               %.0f datagrams/s\n",
                 seconds > 0 ? double(t.datagrams) / seconds : 0.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("scale-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends On-Line weighing datagrams as networked shop scales do."));
    parser.addHelpOption();
    const auto opt = [&parser](const char *name, const char *help, const char *valueName = nullptr,
                               const char *defaultValue = nullptr) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help));
        if (valueName)
            o.setValueName(QString::fromLatin1(valueName));
        if (defaultValue)
            o.setDefaultValue(QString::fromLatin1(defaultValue));
        parser.addOption(o);
    };
    const QByteArray portText = QByteArray::number(defaultPort);
    opt("host", "Receiver address (default 127.0.0.1).", "address", "127.0.0.1");
    opt("port", "Receiver UDP port (default 5001).", "port", portText.constData());
    opt("scales", "Number of simulated scales, one socket each.", "n", "1");
    opt("transfers", "Transfers per scale.", "n", "1");
    opt("packets", "Datagrams per transfer.", "n", "1");
    opt("records", "Records per datagram.", "n", "1");
    opt("rate", "Datagrams per second over all scales; 0 = as fast as possible.", "r", "0");
    opt("seed", "Seed of the field values; the same seed gives the same bytes.", "s", "1");
    opt("corrupt", "Percent of datagrams replaced by a broken variant.", "p", "0");
    opt("empty-plu", "Percent of records with PLU 0.", "p", "0");
    opt("lose", "Percent of datagrams not sent, as if lost on the network.", "p", "0");
    opt("skip", "Percent of records after a gap of 1 to 3 transaction numbers never sent.", "p",
        "0");
    opt("time", "Record date and time, yyyy-MM-ddTHH:mm:ss (default: now).", "when");
    opt("interleave", "Scales take turns in a seeded random order instead of round-robin.");
    opt("sequential", "Each scale sends all of its transfers before the next one starts.");
    opt("example", "Send the worked example datagram once and exit.");
    opt("hex", "Print the datagrams as hex lines on stdout instead of sending them.");
    opt("expect", "Write the record lines the receiver should produce to this file.", "file");
    parser.process(app);

    TrafficPlan plan;
    plan.scales = int(intOption(parser, QStringLiteral("scales"), 1, 10000));
    plan.transfers = int(intOption(parser, QStringLiteral("transfers"), 0, 100000000));
    plan.packets = int(intOption(parser, QStringLiteral("packets"), 1, 65535));
    plan.records = int(intOption(parser, QStringLiteral("records"), 1, maxRecords));
    plan.seed = quint64(intOption(parser, QStringLiteral("seed"), 0, LLONG_MAX));
    plan.corruptPercent = percentOption(parser, QStringLiteral("corrupt"));
    plan.emptyPluPercent = percentOption(parser, QStringLiteral("empty-plu"));
    plan.losePercent = percentOption(parser, QStringLiteral("lose"));
    plan.skipPercent = percentOption(parser, QStringLiteral("skip"));
    if (parser.isSet(QStringLiteral("interleave")) && parser.isSet(QStringLiteral("sequential")))
        usageError(QStringLiteral("--interleave and --sequential exclude each other"));
    if (parser.isSet(QStringLiteral("interleave")))
        plan.order = Order::Interleaved;
    else if (parser.isSet(QStringLiteral("sequential")))
        plan.order = Order::Sequential;
    plan.stamp = QDateTime::currentDateTime();
    if (parser.isSet(QStringLiteral("time"))) {
        plan.stamp = QDateTime::fromString(parser.value(QStringLiteral("time")), Qt::ISODate);
        if (!plan.stamp.isValid())
            usageError(QStringLiteral("--time wants yyyy-MM-ddTHH:mm:ss"));
    }
    bool rateOk = false;
    const double rate = parser.value(QStringLiteral("rate")).toDouble(&rateOk);
    if (!rateOk || rate < 0)
        usageError(QStringLiteral("--rate wants a number of datagrams per second, 0 or more"));
    if (plan.records > recordsPerEthernetFrame)
        std::fprintf(stderr,
                     "scale-sim: warning: more than %d records make datagrams larger "
                     "than one Ethernet frame\n",
                     recordsPerEthernetFrame);

    const bool hex = parser.isSet(QStringLiteral("hex"));
    const bool example = parser.isSet(QStringLiteral("example"));
    const quint16 port = quint16(intOption(parser, QStringLiteral("port"), 1, 65535));
    const QHostAddress target =
        hex ? QHostAddress() : resolve(parser.value(QStringLiteral("host")));
    Sink sink(hex, target, port, example ? 1 : plan.scales);

    QFile expect(parser.value(QStringLiteral("expect")));
    const bool writeExpect = parser.isSet(QStringLiteral("expect"));
    if (writeExpect && !expect.open(QIODevice::WriteOnly | QIODevice::Truncate))
        usageError(QStringLiteral("cannot write %1").arg(expect.fileName()));

    Totals totals;
    const auto account = [&](const Datagram &d) {
        ++totals.datagrams;
        if (d.lost) {
            ++totals.lost;
            return;
        }
        if (d.corruption == Corruption::None) {
            ++totals.valid;
            totals.records += d.lines.size();
        } else {
            ++totals.corrupt;
            ++totals.corruptByKind[int(d.corruption)];
        }
        if (d.endsTransfer)
            ++totals.transfers;
        for (const QString &line : d.lines) {
            if (writeExpect)
                expect.write(line.toLatin1() + "\r\n");
        }
        if (!sink.send(d.scale, d.bytes))
            ++totals.failed;
    };

    QElapsedTimer elapsed;
    elapsed.start();
    if (example) {
        Datagram d;
        const Record r = exampleRecord();
        d.bytes = buildFrame(1, 1, {r});
        d.endsTransfer = true;
        d.lines.append(recordLine(r));
        account(d);
    } else {
        // Datagram i is due at start + i / rate: a fixed schedule that cannot drift.
        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        const std::chrono::duration<double> period(rate > 0 ? 1.0 / rate : 0.0);
        Traffic traffic(plan);
        Datagram d;
        for (qint64 i = 0; traffic.next(d); ++i) {
            if (rate > 0 && !hex)
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<Clock::duration>(period * double(i)));
            account(d);
        }
    }
    std::fflush(stdout);
    expect.close();

    printTotals(hex ? stderr : stdout, totals, double(elapsed.nsecsElapsed()) / 1e9);
    return totals.failed > 0 ? exitSendFailed : 0;
}
