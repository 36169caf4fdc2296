// Gravex: who receives. This program itself, or, where the service runs and
// receives, the service, whose window this program then is; and the
// hand-over, when the service starts while this program receives: both
// sides exist while it runs, and it lives here, where the one is replaced by
// the other.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/localreception.h"
#include "service/serviceclient.h"
#include "status/statuswindow.h"
#include "tray/tray.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// What the reception says is shown; the service is heard meanwhile only for
// whether it should take over.
void Gravex::useReception(Reception *chosen)
{
    reception = chosen;
    connect(reception, &Reception::arrived, this, &Gravex::announceArrival);
    connect(reception, &Reception::warning, this, &Gravex::warn);
    connect(reception, &Reception::todayChanged, this, [this] {
        if (trayIcon)
            trayIcon->resultsChanged();
    });
    connect(reception, &Reception::statusChanged, this, [this](const status::Snapshot &snapshot) {
        lastStatus = snapshot;
        if (statusWindow)
            statusWindow->display(snapshot);
    });
    connect(reception, &Reception::dayRead, this, [this](const status::DayAnswer &answer) {
        if (statusWindow)
            statusWindow->showDay(answer);
    });
    connect(reception, &Reception::optionsChanged, this,
            [this](const options::Values &values, Reception::Change change) {
                showReceptionOptions(values, change);
            });
    connect(reception, &Reception::refused, this, &Gravex::showRefusal);
    connect(reception, &Reception::availabilityChanged, this, [this](bool available) {
        if (!available)
            warn(strings::phrase(language, strings::ServiceGone));
    });
    if (reception == own) {
        connect(service, &ServiceClient::connected, this, &Gravex::takenOver);
        connect(service, &ServiceClient::todayChanged, this, &Gravex::takenOver);
    }
    showReceptionOptions(reception->options(), Reception::Elsewhere);
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
    if (!own || !service->isConnected() || service->options().udpPort != udpPort)
        return;
    if (own->isReceiving() == service->serviceReceiving())
        return; // both cannot hold the port; neither does: nothing to hand over
    if (own->isReceiving())
        own->handOver([this](qintptr socket) { return service->giveSocket(socket); },
                      [this] { service->portFreed(); });
    service->disconnect(this);
    delete std::exchange(own, nullptr);
    useReception(service);
    if (trayIcon)
        trayIcon->resultsChanged();
    if (statusWindow) // a day this program was reading is the service's to read
        statusWindow->askDayAgain();
}

// The options window shows the options in force, which not every user may
// change; a note above them says whose they are and why they may not.
// Changed elsewhere, they replace what the fields hold; the answer to this
// program's Apply leaves what was typed, but a folder refused.
void Gravex::showReceptionOptions(const options::Values &values, int change)
{
    filePath = values.filePath;
    udpPort = values.udpPort;
    debug = values.debug;
    allowedSenders = values.allowedSenders;
    silentScaleMinutes = values.silentScaleMinutes;
    if (statusWindow) {
        statusWindow->setWatching(allowedSenders, silentScaleMinutes);
        statusWindow->showEntryProblem({});
    }
    if (!folderEdit) // the window is not built yet
        return;
    if (change != Reception::Applied)
        folderEdit->setText(filePath);
    if (change == Reception::Elsewhere) {
        portEdit->setText(QString::number(udpPort));
        debugCheck->setChecked(debug);
    }
    const bool mayChange = reception->whoMayChange().isEmpty();
    for (QWidget *field : {static_cast<QWidget *>(folderEdit), static_cast<QWidget *>(selectButton),
                           static_cast<QWidget *>(portEdit), static_cast<QWidget *>(debugCheck)})
        field->setEnabled(mayChange);
    const QString note = reception->optionsNote(language);
    if (!serviceNote && !note.isEmpty()) { // above the fields
        serviceNote = new QLabel(this);
        serviceNote->setObjectName(QStringLiteral("serviceNote"));
        serviceNote->setWordWrap(true);
        gridLayout->addWidget(serviceNote, 0, 1, 1, 4);
    }
    if (serviceNote) {
        serviceNote->setText(note);
        serviceNote->setVisible(!note.isEmpty());
    }
}

void Gravex::showRefusal(const QString &whoMayChange, const QString &badEntry)
{
    const QString text = !badEntry.isEmpty()
                             ? strings::phrase(language, strings::BadEntry).arg(badEntry)
                             : Reception::whoMayChangeText(language, whoMayChange);
    if (statusWindow)
        statusWindow->showEntryProblem(text);
}
