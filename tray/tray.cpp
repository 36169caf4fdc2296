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
    connect(&arrivalPause, &QTimer::timeout, this, &Tray::showArrival);
    warningPause.setSingleShot(true);
    warningPause.setInterval(arrivalPauseMs);
    connect(&warningPause, &QTimer::timeout, this, [this] {
        if (!warningsWaiting.isEmpty())
            showWarnings();
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
    if (!std::exchange(arrivalWaiting, true))
        arrivalHeld.start();
    if (!arrivalPause.isActive())
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
    warningsWaiting.append(text);
    if (!warningPause.isActive())
        showWarnings();
}

void Tray::showWarnings()
{
    QStringList shown = warningsWaiting.mid(0, warningsPerBalloon);
    if (warningsWaiting.size() > warningsPerBalloon)
        shown << QStringLiteral("(+%1)").arg(warningsWaiting.size() - warningsPerBalloon);
    warningsWaiting.clear();
    warningPause.start();
    const QString text = shown.join(QLatin1Char('\n'));
    if (isSystemTrayAvailable()) {
        showBalloon(text, QSystemTrayIcon::Warning);
        sinceWarning.start();
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

// The waiting arrival's balloon, unless a warning's has not been up long
// enough to be read: then when it has, or when the arrival has waited that
// long, so that warnings every few seconds cannot hold arrivals back.
void Tray::showArrival()
{
    if (!arrivalWaiting)
        return;
    const qint64 warningShownMs = sinceWarning.isValid() ? sinceWarning.elapsed() : warningHoldMs;
    const qint64 holdMs = warningHoldMs - qMax(warningShownMs, arrivalHeld.elapsed());
    if (holdMs > 0) {
        arrivalPause.start(int(holdMs));
        return;
    }
    arrivalWaiting = false;
    showBalloon(arrivalText(), QSystemTrayIcon::Information);
    arrivalPause.start(arrivalPauseMs);
}

void Tray::showBalloon(const QString &text, QSystemTrayIcon::MessageIcon icon)
{
    showMessage(texts.shortTitle(), text, icon, balloonMs);
}
