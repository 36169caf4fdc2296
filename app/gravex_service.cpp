// Gravex as the window of the service: while the service runs, it receives,
// and the tray program shows its arrivals, warnings, status and options. A
// tray program that receives itself when the service starts hands reception
// over to it.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/receiver.h"
#include "service/serviceclient.h"
#include "status/statuswindow.h"
#include "tray/tray.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// What the service says counts only while it receives instead of this
// program.
void Gravex::followService()
{
    connect(service, &ServiceClient::connected, this, [this] {
        if (receiver) {
            takenOver();
        } else {
            showServiceOptions(service->options());
            trayIcon->resultsChanged();
        }
    });
    connect(service, &ServiceClient::disconnected, this, [this] {
        if (receiver)
            return;
        warn(strings::phrase(language, strings::ServiceGone));
        trayIcon->resultsChanged();
    });
    connect(service, &ServiceClient::arrived, this, [this](const QDateTime &time) {
        if (!receiver)
            announceArrival(time);
    });
    connect(service, &ServiceClient::warning, this, [this](const QString &text) {
        if (!receiver)
            warn(text);
    });
    connect(service, &ServiceClient::todayChanged, this, [this] {
        if (receiver)
            takenOver(); // the service may have its port now
        else
            trayIcon->resultsChanged();
    });
    connect(service, &ServiceClient::optionsReceived, this, [this](const QVariantMap &options) {
        if (!receiver)
            showServiceOptions(options);
    });
    connect(service, &ServiceClient::statusReceived, this,
            [this](const status::Snapshot &snapshot) {
                serviceStatus = snapshot;
                if (!receiver && statusWindow)
                    statusWindow->display(snapshot);
            });
    connect(service, &ServiceClient::refused, this, &Gravex::serviceRefused);
}

// The service itself (not a program posing as it) works on this program's
// port: from now on it receives, and this program is its window. While this
// program holds the port, the service cannot open it; this program gives it
// its socket, with the datagrams waiting in it, or, where the system cannot
// move a socket or the service will not take one from this user, reads its
// socket empty and frees the port, which the service then opens at once.
// Either way this program files what it had read, and a transfer under way
// goes on in the service's next file. A service on another port leaves this
// one receiving on its own.
void Gravex::takenOver()
{
    if (service->options().value(QStringLiteral("udpPort")).toUInt() != udpPort ||
        !service->isConnected())
        return;
    if (receiver->isReceiving() == service->serviceReceiving())
        return; // both cannot hold the port; neither does: nothing to hand over
    if (receiver->isReceiving())
        receiver->handOver([this](qintptr socket) { return service->giveSocket(socket); },
                           [this] { service->portFreed(); });
    delete std::exchange(receiver, nullptr);
    showServiceOptions(service->options());
    trayIcon->resultsChanged();
}

// The options window shows the service's options, which only some may
// change; the others see why not.
void Gravex::showServiceOptions(const QVariantMap &options)
{
    filePath = options.value(QStringLiteral("filePath")).toString();
    udpPort = quint16(options.value(QStringLiteral("udpPort")).toUInt());
    debug = options.value(QStringLiteral("debug")).toBool();
    allowedSenders = options.value(QStringLiteral("allowedSenders")).toString();
    if (!folderEdit) // the window is not built yet
        return;
    if (!serviceNote) { // above the fields
        serviceNote = new QLabel(this);
        serviceNote->setObjectName(QStringLiteral("serviceNote"));
        serviceNote->setWordWrap(true);
        gridLayout->addWidget(serviceNote, 0, 1, 1, 4);
    }
    if (options.value(QStringLiteral("folderNotMade"), true).toBool())
        folderEdit->setText(filePath);
    portEdit->setText(QString::number(udpPort));
    debugCheck->setChecked(debug);
    const QString who = service->whoMayChange();
    for (QWidget *field : {static_cast<QWidget *>(folderEdit), static_cast<QWidget *>(selectButton),
                           static_cast<QWidget *>(portEdit), static_cast<QWidget *>(debugCheck)})
        field->setEnabled(who.isEmpty());
    serviceNote->setText(strings::phrase(language, strings::ServiceOptions) +
                         (who.isEmpty() ? QString() : QLatin1Char('\n') + whoMayChangeText(who)));
    serviceNote->show();
    if (statusWindow) {
        statusWindow->setAllowedSenders(allowedSenders);
        statusWindow->showEntryProblem({});
    }
}

void Gravex::serviceRefused(const QVariantMap &why)
{
    const QString bad = why.value(QStringLiteral("badEntry")).toString();
    const QString text =
        !bad.isEmpty() ? strings::phrase(language, strings::BadEntry).arg(bad)
                       : whoMayChangeText(why.value(QStringLiteral("whoMayChange")).toString());
    if (statusWindow)
        statusWindow->showEntryProblem(text);
}

QString Gravex::whoMayChangeText(const QString &who)
{
    if (who.startsWith(QLatin1String("group:")))
        return strings::phrase(language, strings::OnlyGroupMayChange).arg(who.mid(6));
    return strings::phrase(language, strings::OnlyAdministratorsMayChange);
}
