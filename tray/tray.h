#pragma once

#include <QString>
#include <QSystemTrayIcon>

class Gravex;
class QIcon;
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

    // Local date and time of the last arrival notice, "dd.MM.yyyy  hh:mm:ss".
    QString messageTime;

public Q_SLOTS:
    void blink();
    void normal(QSystemTrayIcon::ActivationReason reason);

private Q_SLOTS:
    void blinkTrayIcon();

private:
    QTimer *blinkTimer = nullptr;
    QIcon *normalIcon = nullptr;
    QIcon *newMessageIcon = nullptr;
    Gravex *owner = nullptr;
    // True while the new-message image is on display. Whenever the timer is
    // stopped it is false and the program's image shows.
    bool blinkState = false;

    friend struct GravexProbe;
};
