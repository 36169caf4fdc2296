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
    // The day shown, in three CSV files in `folder`, once its records have
    // come (dayWanted); the window says what was written, or what not.
    void exportDay(const QString &folder);
    // A day asked for: shown when it is the date chosen, and exported when
    // an export waits for it.
    void showDay(const status::DayAnswer &answer);
    // Who reads the day changed (the service took over): what is still
    // awaited is asked for again.
    void askDayAgain();

Q_SIGNALS:
    void refreshWanted();
    // Answered by showDay().
    void dayWanted(const QDate &date, bool withRecords);
    void watchingApplied(const QString &allowedSenders, int silentScaleMinutes);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *createReception();
    QWidget *createTables();
    QWidget *createAllowedSenders();
    QWidget *createDay();
    void askDay();
    void askExport();
    void writeExport(const status::DayAnswer &answer);
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
    QWidget *dayTab = nullptr;
    QDateEdit *dayDate = nullptr;
    QLabel *daySummary = nullptr;
    QTreeWidget *dayScales = nullptr;
    QTreeWidget *dayGoods = nullptr;
    QString exportFolder; // an export waiting for its records
    bool dayAwaited = false;
};
