#include "tray/tray.h"

#include "reception/recordline.h"

#include <QIcon>
#include <QMessageBox>
#include <QTimer>

Tray::Tray(QObject *parent, Texts texts_) : QSystemTrayIcon(parent), texts(std::move(texts_))
{
    normalIcon = new QIcon(QStringLiteral(":/Gravex"));
    newMessageIcon = new QIcon(QStringLiteral(":/NewMessage"));
    blinkTimer = new QTimer;
    blinkState = false;
    setIcon(*normalIcon);
    connect(blinkTimer, &QTimer::timeout, this, &Tray::blinkTrayIcon);
    connect(this, &QSystemTrayIcon::activated, this, &Tray::normal);
    arrivalPause.setSingleShot(true);
    arrivalPause.setInterval(arrivalPauseMs);
    connect(&arrivalPause, &QTimer::timeout, this, [this] {
        if (std::exchange(arrivalWaiting, false))
            showArrival();
    });
    toolTipPause.setSingleShot(true);
    toolTipPause.setInterval(arrivalPauseMs);
    connect(&toolTipPause, &QTimer::timeout, this, [this] {
        if (std::exchange(toolTipWaiting, false))
            resultsChanged();
    });
}

Tray::~Tray()
{
    delete normalIcon;
    delete newMessageIcon;
    delete blinkTimer;
    delete warningBox;
}

void Tray::announce(const QDateTime &time)
{
    messageTime = recordline::arrivalTime(time);
    if (arrivalPause.isActive())
        arrivalWaiting = true;
    else
        showArrival();
    // Restarting a running timer on every arrival would hold the image still.
    if (!blinkTimer->isActive())
        blink();
}

void Tray::resultsChanged()
{
    if (toolTipPause.isActive()) {
        toolTipWaiting = true;
        return;
    }
    setToolTip(texts.toolTip());
    toolTipPause.start();
}

void Tray::warn(const QString &text)
{
    if (isSystemTrayAvailable()) {
        showBalloon(text, QSystemTrayIcon::Warning);
        return;
    }
    if (!warningBox)
        warningBox = new QMessageBox(QMessageBox::Warning, texts.shortTitle(), {}, QMessageBox::Ok);
    warningBox->setText(text);
    warningBox->show();
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
    showBalloon(arrivalText(), QSystemTrayIcon::Information);
    blinkTimer->stop();
    blinkState = false;
    setIcon(*normalIcon);
}

void Tray::blinkTrayIcon()
{
    blinkState = !blinkState;
    setIcon(blinkState ? *newMessageIcon : *normalIcon);
}

// Two lines: the notice, then the time of the last arrival.
QString Tray::arrivalText() const
{
    return texts.newResults() + messageTime;
}

void Tray::showArrival()
{
    showBalloon(arrivalText(), QSystemTrayIcon::Information);
    arrivalPause.start();
}

void Tray::showBalloon(const QString &text, QSystemTrayIcon::MessageIcon icon)
{
    showMessage(texts.shortTitle(), text, icon, balloonMs);
}
