#pragma once

#include "reception/receiver.h"
#include "reception/reception.h"

#include <QTimer>

#include <functional>

class QSettings;

// This program receives itself, on the options of its store, and stores
// there what is applied: the tray program receiving on its own, and the
// service. The receiver does the work.
class LocalReception : public Reception
{
    Q_OBJECT

public:
    // `writableFolderOnly`: a data folder asked for is taken only if this
    // process can make files in it (the service, which writes there with
    // rights of its own).
    LocalReception(QSettings &store, const options::Values &values,
                   bool writableFolderOnly = false);

    options::Values options() const override { return values; }
    QString whoMayChange() const override { return {}; }
    bool isAvailable() const override { return true; }
    QString optionsNote(int) const override { return {}; }
    QString source(int) const override { return {}; }
    qint64 recordsToday() const override { return receiver.recordsToday(); }
    qint64 lastArrivalMs() const override { return receiver.lastArrivalMs(); }
    // The folder field's rule, the values stored, the port bound again
    // (kept when it is the same).
    void apply(const options::Values &asked, const QString &typedFolder) override;
    void applyWatching(const QString &allowedSenders, int silentScaleMinutes) override;
    // The same, answering at once rather than by signal (the service).
    Change applyNow(const options::Values &asked, const QString &typedFolder);
    bool applyWatchingNow(const QString &allowedSenders, int silentScaleMinutes, QString *badEntry);
    void chooseFolder(const QString &folder) override;
    void requestStatus() override;
    // Read from the data folder in steps, so that a window stays answering
    // and the service goes on receiving.
    void requestDay(const QDate &date, bool withRecords) override;

    void setFileCounter() override { receiver.setFileCounter(); }
    // The allowed senders as stored, and the port of the options.
    void createUdpSocket() override;
    void receiveMessage() override { receiver.receiveMessage(); }
    void saveMessage(const QByteArray &message) override { receiver.saveMessage(message); }
    void addFileHeader() override { receiver.addFileHeader(); }

    // Binds the port in force; `quietly`: the user hears only of a new reason.
    bool bind(bool quietly) { return receiver.bindUdpSocket(quietly); }
    bool isReceiving() const { return receiver.isReceiving(); }
    // The service's side of a hand-over, and the tray program's (Receiver).
    bool adoptSocket(qintptr socket) { return receiver.adoptSocket(socket); }
    bool handOver(const std::function<bool(qintptr)> &give, const std::function<void()> &freed)
    {
        return receiver.handOver(give, freed);
    }
    status::Snapshot snapshot() { return receiver.statusSnapshot(); }

    // A step of reading a day reads files for this long, then the events
    // waiting are handled.
    static constexpr int dayStepMs = 20;

private:
    void passOptions();
    void readDayStep();

    QSettings &store;
    options::Values values;
    const bool writableFolderOnly;
    Receiver receiver;
    status::DayReading dayReading;
    status::DayAnswer day;
    QTimer dayTimer;

    friend struct GravexProbe;
};
