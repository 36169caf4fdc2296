#pragma once

#include "settings/options.h"
#include "status/dayreport.h"
#include "status/snapshot.h"

#include <QDateTime>
#include <QObject>
#include <QString>

// Who receives, as the tray program's main object sees it: this program
// itself (LocalReception), or the service, whose window it then is
// (ServiceClient). Everything the windows show of reception, and everything
// they may ask of it. Asking is answered later, by a signal: the service is
// another process.
class Reception : public QObject
{
    Q_OBJECT

public:
    // What an announcement of the options in force is.
    enum Change {
        Elsewhere,     // changed by someone else (or first told)
        Applied,       // the answer to this program's Apply
        FolderNotMade, // the same, the folder asked for refused
    };

    // The options that belong to receiving: the data folder, the port, the
    // debug dumps, the language of the files, the allowed senders, the
    // minutes a scale may be silent.
    virtual options::Values options() const = 0;
    // Empty when this user may change them, else who may ("group:NAME",
    // "administrators").
    virtual QString whoMayChange() const = 0;
    // Whether it can be reached (the service may have gone).
    virtual bool isAvailable() const = 0;
    // A line about whose options the window shows, and one about where the
    // figures come from; empty for this program's own.
    virtual QString optionsNote(int language) const = 0;
    virtual QString source(int language) const = 0;
    virtual qint64 recordsToday() const = 0;
    virtual qint64 lastArrivalMs() const = 0;

    // Apply with the options as the window holds them, `typedFolder` the
    // folder field as typed: answered by optionsChanged(), or by refused()
    // when this user may not.
    virtual void apply(const options::Values &values, const QString &typedFolder) = 0;
    // The allowed senders and how long a scale may be silent, as the status
    // window holds them.
    virtual void applyWatching(const QString &allowedSenders, int silentScaleMinutes) = 0;
    // A folder chosen in the folder dialog: files go there at once.
    virtual void chooseFolder(const QString &folder) = 0;
    // Answered by statusChanged().
    virtual void requestStatus() = 0;
    // The figures of the day of `date`, and its records when asked for:
    // answered by dayRead(). A new request replaces one not yet answered.
    virtual void requestDay(const QDate &date, bool withRecords) = 0;

    // Who may change the options, as the user reads it.
    static QString whoMayChangeText(int language, const QString &who);

    // The main object's slots of receiving and filing hand on to these;
    // they do their work only where this program receives itself.
    virtual void setFileCounter() {}
    virtual void createUdpSocket() {}
    virtual void receiveMessage() {}
    virtual void saveMessage(const QByteArray &) {}
    virtual void addFileHeader() {}

Q_SIGNALS:
    // Records are on the disk.
    void arrived(const QDateTime &time);
    // Something the user must hear of.
    void warning(const QString &text);
    // The records of today, the last results or availability changed.
    void todayChanged();
    void statusChanged(const status::Snapshot &snapshot);
    void dayRead(const status::DayAnswer &answer);
    void optionsChanged(const options::Values &values, Reception::Change change);
    // Apply refused: who may change the options, or the entry of the
    // allowed senders that is no address.
    void refused(const QString &whoMayChange, const QString &badEntry);
    void availabilityChanged(bool available);
};
