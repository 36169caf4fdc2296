#include "tray/tray.h"

#include "app/gravex.h"

#include <QIcon>
#include <QTimer>

Tray::Tray(QObject *parent, Gravex *owner_) : QSystemTrayIcon(parent)
{
    normalIcon = new QIcon(QStringLiteral(":/Gravex"));
    newMessageIcon = new QIcon(QStringLiteral(":/NewMessage"));
    blinkTimer = new QTimer;
    blinkState = false;
    owner = owner_;
    setIcon(*normalIcon);
    connect(blinkTimer, &QTimer::timeout, this, &Tray::blinkTrayIcon);
}

Tray::~Tray()
{
    delete normalIcon;
    delete newMessageIcon;
    delete blinkTimer;
}

// Starts, or restarts from zero, the blinking; the image changes on the next tick.
void Tray::blink()
{
    blinkTimer->start(blinkIntervalMs);
}

// A double-click while blinking repeats the last arrival balloon and puts
// the icon back to rest; anything else is left to the toolkit.
void Tray::normal(QSystemTrayIcon::ActivationReason reason)
{
    if (!blinkTimer->isActive() || reason != QSystemTrayIcon::DoubleClick)
        return;
    showMessage(owner->getAppName(false), owner->getLanguageString(14) + messageTime,
                QSystemTrayIcon::Information, balloonMs);
    blinkTimer->stop();
    blinkState = false;
    setIcon(*normalIcon);
}

void Tray::blinkTrayIcon()
{
    blinkState = !blinkState;
    setIcon(blinkState ? *newMessageIcon : *normalIcon);
}
