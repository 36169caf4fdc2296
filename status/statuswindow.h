#pragma once

#include "status/dayreport.h"
#include "status/snapshot.h"

#include <QTimer>
#include <QWidget>

class QDateEdit;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

// The window that answers "is it working?": the port and what the receiver
// has counted, today's scales, the senders, the latest arrivals and warnings,
// and the senders allowed. It asks for a new snapshot once a second while it
// is shown and for nothing while it is hidden. Its texts are in the language
// in force when it is made.
class StatusWindow : public QWidget
{
    Q_OBJECT

public:
    explicit StatusWindow(int language, const QString &title);

    void display(const status::Snapshot &snapshot);
    // The allowed senders and the minutes a scale may be silent, as stored.
    void setWatching(const QString &allowedSenders, int silentScaleMinutes);
    // Why the field's text was not applied; empty once it was.
    void showEntryProblem(const QString &text);
    // Who receives, when it is not this program; empty: this program.
    void showSource(const QString &text);
    // Where the day folders are, for the day's figures.
    void setDataFolder(const QString &folder);
    // The day shown, in three CSV files in `folder`; false, and said in the
    // window, when one could not be written.
    bool exportDay(const QString &folder);

Q_SIGNALS:
    void refreshWanted();
    void watchingApplied(const QString &allowedSenders, int silentScaleMinutes);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *createReception();
    QWidget *createTables();
    QWidget *createAllowedSenders();
    QWidget *createDay();
    void showDay();
    void readDayStep();
    void askExport();
    QTreeWidget *createTable(const char *name, const QList<int> &columns);
    QLabel *createValue(const char *name);
    QString phrase(int which) const;
    QString transactions(const status::ScaleRow &scale) const;
    QString clock(const status::ScaleRow &scale) const;
    void showHours(QTreeWidgetItem *item, int column, const status::Hours &hours) const;

    int language;
    QTimer refresh;
    QLabel *source = nullptr;
    QLabel *port = nullptr;
    QLabel *buffer = nullptr;
    QLabel *received = nullptr;
    QLabel *stored = nullptr;
    QLabel *rejected = nullptr;
    QLabel *dropped = nullptr;
    QLabel *counting = nullptr;
    QTreeWidget *scales = nullptr;
    QTreeWidget *senders = nullptr;
    QTreeWidget *events = nullptr;
    QLineEdit *allowed = nullptr;
    QSpinBox *silentMinutes = nullptr;
    QLabel *entryProblem = nullptr;
    QString dataFolder;
    QWidget *dayTab = nullptr;
    QDateEdit *dayDate = nullptr;
    QLabel *daySummary = nullptr;
    QTreeWidget *dayScales = nullptr;
    QTreeWidget *dayGoods = nullptr;
    // The day is read a file at a time, so that the window stays answering.
    status::DayReading dayReading;
    QTimer dayTimer;
    QString dayDataFolder; // the data folder it is read from
    bool dayFolderReadable = false;
};
