#pragma once

#include "reception/reception.h"
#include "service/protocol.h"

#include <QFileSystemWatcher>
#include <QLocalSocket>
#include <QTimer>

// A tray program's line to the service, which receives instead of it: it
// hears the service's arrivals and warnings, asks for its status and its
// options, and asks to change them. While the service cannot be reached it
// tries again, less and less often; where its socket is a file, it watches
// the file's folder instead: while the file is missing it waits for it, and
// a file that refuses is tried less and less often.
// Only the service itself is connected to, never a
// program posing as it.
class ServiceClient : public Reception
{
    Q_OBJECT

public:
    static constexpr int retryMs = 1000;
    static constexpr int retryLongestMs = 32000;
    // How long a tray program waits for the service to take its socket.
    static constexpr int giveMs = 2000;

    ServiceClient();
    ~ServiceClient() override;

    // One try, waiting up to `waitMs` for the service's answer; true when
    // it answered. Keeps trying from then on either way.
    bool connectNow(int waitMs);
    bool isConnected() const { return greeted; }
    // What the service said last: whether it has its port.
    bool serviceReceiving() const { return day.receiving; }

    options::Values options() const override;
    QString whoMayChange() const override { return hello.whoMayChange; }
    bool isAvailable() const override { return greeted; }
    QString optionsNote(int language) const override;
    QString source(int language) const override;
    qint64 recordsToday() const override { return day.recordsToday; }
    qint64 lastArrivalMs() const override { return day.lastArrivalMs; }
    // The service answers, or refuses a user who may not.
    void apply(const options::Values &asked, const QString &typedFolder) override;
    void applyWatching(const QString &allowedSenders, int silentScaleMinutes) override;
    void chooseFolder(const QString &) override {}
    void requestStatus() override;
    // The figures from the service; the records from it in pages, or, when
    // it refuses them to this user, from its data folder where this user
    // may read it.
    void requestDay(const QDate &date, bool withRecords) override;

    // The tray program's socket on the service's port, given to it: true
    // when the service took it.
    bool giveSocket(qintptr socket);
    // The tray program closed its socket on the service's port.
    void portFreed();

Q_SIGNALS:
    void connected();
    void disconnected();

private:
    void tryConnecting();
    bool waitForSocketFile();
    void ask();
    void read();
    void handle(const protocol::Message &message);
    void lost();
    void takeFigures(const protocol::Figures &figures);
    void takeRecords(const protocol::RecordPage &page);
    void unreachableDay();

    QLocalSocket socket;
    QTimer retry;
    QFileSystemWatcher socketFolder;
    QByteArray buffer;
    bool asked = false;
    bool heard = false; // a hello of this version
    bool greeted = false;
    protocol::Greeting hello;
    protocol::Day day;
    protocol::Settings settings;
    // The day asked for last, and what of it is still awaited.
    enum class DayWait { Nothing, Figures, Records };
    DayWait dayWait = DayWait::Nothing;
    qint64 daySerial = 0;
    status::DayAnswer dayAnswer;
};
