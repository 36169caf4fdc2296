#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

class QDateTime;
class QIcon;
class QMessageBox;

// The program's icon in the system tray. After new results it blinks between
// the program's image and the new-message image until the user double-clicks
// it; the double-click repeats the last arrival balloon.
class Tray : public QSystemTrayIcon
{
    Q_OBJECT

public:
    static constexpr int blinkIntervalMs = 800;
    static constexpr int balloonMs = 30000;
    // At most one arrival balloon in this time: a flood of transfers raises
    // one a second, not thousands, and the last one shown is never stale.
    static constexpr int arrivalPauseMs = 1000;
    // An arrival's balloon waits this long after a warning's, so that a
    // warning raised with the records that revealed it can be read.
    static constexpr int warningHoldMs = 5000;
    // Warnings raised within a second of a warning balloon wait for the
    // next, which names this many of them and how many more there were.
    static constexpr int warningsPerBalloon = 3;

    // What the icon says, asked for each time it is needed: the language may
    // change while the program runs.
    struct Texts
    {
        std::function<QString()> toolTip;    // the long title and the last results
        std::function<QString()> shortTitle; // the title of the balloons
        std::function<QString()> newResults; // the arrival notice, up to its time
    };

    Tray(QObject *parent, Texts texts);
    ~Tray() override;

    // New results were stored at `time`: a balloon says so and the icon
    // blinks. An arrival within a second of the last balloon is shown when
    // that second ends, with the time of the latest arrival then; a running
    // blink goes on as it is.
    void announce(const QDateTime &time);
    // The records stored today or the last results changed: the tool tip
    // shows them, at most once a second.
    void resultsChanged();
    // A problem the user must know of: a balloon, or, where there is no
    // tray, a message box (one at a time, which never holds up reception);
    // at once, or with those that follow it within a second.
    void warn(const QString &text);

public Q_SLOTS:
    void blink();
    void normal(QSystemTrayIcon::ActivationReason reason);

private Q_SLOTS:
    void blinkTrayIcon();

private:
    QString arrivalText() const;
    void showArrival();
    void showBalloon(const QString &text, QSystemTrayIcon::MessageIcon icon);
    void showWarnings();

    // Local date and time of the last arrival notice, "dd.MM.yyyy  hh:mm:ss".
    QString messageTime;
    QTimer *blinkTimer = nullptr;
    QIcon *normalIcon = nullptr;
    QIcon *newMessageIcon = nullptr;
    Texts texts;
    // True while the new-message image is on display. Whenever the timer is
    // stopped it is false and the program's image shows.
    bool blinkState{};
    // Runs for a second after an arrival balloon, or until a warning's has
    // been up long enough; an arrival meanwhile waits.
    QTimer arrivalPause;
    bool arrivalWaiting{};
    QElapsedTimer arrivalHeld; // since the waiting arrival came
    // Likewise for warnings, which wait in order.
    QTimer warningPause;
    QStringList warningsWaiting;
    QElapsedTimer sinceWarning;
    // Likewise for the tool tip.
    QTimer toolTipPause;
    bool toolTipWaiting{};
    // Where there is no tray: one box for every warning, made when first needed.
    QMessageBox *warningBox = nullptr;

    friend struct GravexProbe;
};
