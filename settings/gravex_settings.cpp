// Gravex: loading the options at start-up and applying what the window holds.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "settings/autostart.h"
#include "reception/receiver.h"
#include "settings/options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include "reception/receiver.h"

void Gravex::loadOptions()
{
    filePath = options::defaultDataFolder();
    udpPort = options::defaultUdpPort;
    showTrayMessage = options::defaultShowTrayMessage;
    autoLoad = options::defaultAutoLoad;
    settings = options::openStore();
    runSettings = new AutostartEntry;

    filePath = settings->value(QLatin1String(options::filePathKey), filePath).toString();
    udpPort = quint16(
        settings->value(QLatin1String(options::udpPortKey), int(options::defaultUdpPort)).toInt());
    showTrayMessage =
        settings->value(QLatin1String(options::showTrayMessageKey), showTrayMessage).toBool();
    autoLoad = settings->value(QLatin1String(options::autoLoadKey), autoLoad).toBool();
    debug = settings->value(QLatin1String(options::debugKey), options::defaultDebug).toBool();
    language = options::languageFromText(
        settings->value(QLatin1String(options::languageKey), QStringLiteral("Russian")).toString());
    loadedLanguage = language;
    allowedSenders = settings->value(QLatin1String(options::allowedSendersKey)).toString();

    if (filePath.isEmpty())
        filePath = options::defaultDataFolder();
    if (!QDir(filePath).exists())
        QDir().mkdir(filePath);
    passOptions();
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

void Gravex::applyOptions()
{
    // The field creates a folder that does not exist yet; an existing one
    // becomes the data folder through Select..., which sets it directly.
    const QString typedFolder = folderEdit->text();
    QDir typed(typedFolder);
    if (!typed.exists()) {
        // Asked of the folder itself, so only an absolute path can be created.
        if (typed.mkdir(typedFolder))
            filePath = typedFolder;
        else
            folderEdit->setText(filePath);
    }

    udpPort = options::portFromText(portEdit->text());
    showTrayMessage = showTrayMessageCheck->isChecked();
    autoLoad = autoLoadCheck->isChecked();
    debug = debugCheck->isChecked();

    settings->setValue(QLatin1String(options::filePathKey), filePath);
    settings->setValue(QLatin1String(options::udpPortKey), int(udpPort));
    settings->setValue(QLatin1String(options::showTrayMessageKey), showTrayMessage);
    settings->setValue(QLatin1String(options::autoLoadKey), autoLoad);
    settings->setValue(QLatin1String(options::debugKey), debug);

    language = languageBox->currentIndex() != 0 ? 1 : 0;
    settings->setValue(QLatin1String(options::languageKey), options::languageText(language));

    if (loadedLanguage != language)
        QMessageBox::warning(this, getAppName(true), getLanguageString(strings::RestartNeeded), QMessageBox::Ok,
                             QMessageBox::NoButton);
    loadedLanguage = language;

    if (autoLoad)
        runSettings->write(options::autorunCommand());
    else
        runSettings->remove();

    passOptions();
    if (receiver)
        receiver->bindUdpSocket();
}
