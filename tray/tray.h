#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QSystemTrayIcon>

class Gravex;
class QDateTime;
class QIcon;
class QMessageBox;
class QTimer;

// The program's icon in the system tray. After new results it blinks between
// the program's image and the new-message image until the user double-clicks
// it; the double-click repeats the last arrival balloon.
class Tray : public QSystemTrayIcon
{
    Q_OBJECT

public:
    static constexpr int blinkIntervalMs = 800;
    static constexpr int balloonMs = 30000;

    Tray(QObject *parent, Gravex *owner);
    ~Tray() override;

    // New results were stored at `time`: a balloon says so and the icon
    // blinks. While a balloon is still showing, a later arrival only changes
    // the time the double-click repeats, so a flood of transfers raises one
    // balloon, not thousands, and leaves the blinking running.
    void announce(const QDateTime &time);
    // A problem the user must know of: a balloon, or, where there is no
    // tray, a message box (one at a time, which never holds up reception).
    void warn(const QString &text);

public Q_SLOTS:
    void blink();
    void normal(QSystemTrayIcon::ActivationReason reason);

private Q_SLOTS:
    void blinkTrayIcon();

private:
    QString arrivalText() const;
    void showBalloon(const QString &text, QSystemTrayIcon::MessageIcon icon);

    // Local date and time of the last arrival notice, "dd.MM.yyyy  hh:mm:ss".
    QString messageTime;
    QTimer *blinkTimer = nullptr;
    QIcon *normalIcon = nullptr;
    QIcon *newMessageIcon = nullptr;
    Gravex *owner = nullptr;
    // True while the new-message image is on display. Whenever the timer is
    // stopped it is false and the program's image shows.
    bool blinkState{};
    // Until when the last balloon shows, unless the user clicks it away.
    QDeadlineTimer balloonShowing;
    // Where there is no tray: one box for every warning, made when first needed.
    QMessageBox *warningBox = nullptr;

    friend struct GravexProbe;
};
