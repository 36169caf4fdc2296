#pragma once

#include "service/protocol.h"
#include "status/snapshot.h"

#include <QDateTime>
#include <QLocalSocket>
#include <QObject>
#include <QTimer>
#include <QVariantMap>

// A tray program's line to the service: it hears the service's arrivals and
// warnings, asks for its status and its options, and asks to change them.
// While the service cannot be reached it tries again every second. Only the
// service itself is connected to, never a program posing as it.
class ServiceClient : public QObject
{
    Q_OBJECT

public:
    static constexpr int retryMs = 1000;
    // How long a tray program waits for the service to take its socket.
    static constexpr int giveMs = 2000;

    ServiceClient();
    ~ServiceClient() override;

    // One try, waiting up to `waitMs` for the service's answer; true when
    // it answered. Keeps trying from then on either way.
    bool connectNow(int waitMs);
    bool isConnected() const { return greeted; }
    // What the service said when it answered.
    bool serviceReceiving() const;
    QString whoMayChange() const;
    const QVariantMap &options() const { return serviceOptions; }
    qint64 recordsToday() const { return today.value(QStringLiteral("recordsToday")).toLongLong(); }
    qint64 lastArrivalMs() const { return today.value(QStringLiteral("lastArrival")).toLongLong(); }

    // The tray program's socket on the service's port, given to it: true
    // when the service took it.
    bool giveSocket(qintptr socket);
    // The tray program closed its socket on the service's port.
    void portFreed();
    void requestStatus();
    void applyOptions(const QVariantMap &request);
    void applyAllowedSenders(const QString &text);

Q_SIGNALS:
    void connected();
    void disconnected();
    void arrived(const QDateTime &time);
    void warning(const QString &text);
    void todayChanged();
    void statusReceived(const status::Snapshot &snapshot);
    void optionsReceived(const QVariantMap &options);
    // whoMayChange, or badEntry of the allowed senders.
    void refused(const QVariantMap &why);

private:
    void tryConnecting();
    void ask();
    void read();
    void handle(const protocol::Message &message);
    void lost();

    QLocalSocket socket;
    QTimer retry;
    QByteArray buffer;
    bool asked = false;
    bool greeted = false;
    QVariantMap hello;
    QVariantMap today;
    QVariantMap serviceOptions;
};
