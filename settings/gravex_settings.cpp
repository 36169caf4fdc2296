// Gravex: loading the options at start-up and applying what the window holds.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/receiver.h"
#include "service/serviceclient.h"
#include "settings/autostart.h"
#include "settings/options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>

void Gravex::loadOptions()
{
    settings = options::openStore();
    runSettings = new AutostartEntry;
    const options::Values stored = options::load(*settings, options::defaultDataFolder());
    filePath = stored.filePath;
    udpPort = stored.udpPort;
    showTrayMessage = stored.showTrayMessage;
    autoLoad = stored.autoLoad;
    debug = stored.debug;
    language = stored.language;
    loadedLanguage = language;
    allowedSenders = stored.allowedSenders;
    if (receiver)
        passOptions();
    else
        showServiceOptions(service->options());
}

void Gravex::passOptions()
{
    if (!receiver)
        return;
    receiver->setDataFolder(filePath);
    receiver->setPort(udpPort);
    receiver->setDebug(debug);
    receiver->setLanguage(language);
}

// While the service receives, the data folder, the port and the debug dumps
// are its options: they go to it, if this user may change them, and are not
// stored here. The others are this program's own.
void Gravex::applyOptions()
{
    const QString typedFolder = folderEdit->text();
    if (receiver) {
        bool folderNotMade = false;
        filePath = options::appliedDataFolder(typedFolder, filePath, &folderNotMade);
        if (folderNotMade)
            folderEdit->setText(filePath);
    }

    udpPort = options::portFromText(portEdit->text());
    showTrayMessage = showTrayMessageCheck->isChecked();
    autoLoad = autoLoadCheck->isChecked();
    debug = debugCheck->isChecked();

    if (receiver) {
        settings->setValue(QLatin1String(options::filePathKey), filePath);
        settings->setValue(QLatin1String(options::udpPortKey), int(udpPort));
    }
    settings->setValue(QLatin1String(options::showTrayMessageKey), showTrayMessage);
    settings->setValue(QLatin1String(options::autoLoadKey), autoLoad);
    if (receiver)
        settings->setValue(QLatin1String(options::debugKey), debug);

    language = languageBox->currentIndex() != 0 ? 1 : 0;
    settings->setValue(QLatin1String(options::languageKey), options::languageText(language));

    if (loadedLanguage != language)
        QMessageBox::warning(this, getAppName(true), getLanguageString(strings::RestartNeeded),
                             QMessageBox::Ok, QMessageBox::NoButton);
    loadedLanguage = language;

    if (autoLoad)
        runSettings->write(options::autorunCommand());
    else
        runSettings->remove();

    if (receiver) {
        passOptions();
        receiver->bindUdpSocket();
    } else if (service->whoMayChange().isEmpty()) {
        service->applyOptions({{QStringLiteral("filePath"), filePath},
                               {QStringLiteral("typedFolder"), typedFolder},
                               {QStringLiteral("udpPort"), udpPort},
                               {QStringLiteral("debug"), debug},
                               {QStringLiteral("language"), language}});
    }
}
