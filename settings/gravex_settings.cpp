// Gravex: loading the options at start-up and applying what the window holds.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/localreception.h"
#include "service/serviceclient.h"
#include "settings/autostart.h"
#include "settings/options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>

// The balloon, start at login and the language are this program's own; the
// rest belongs to who receives: this program, unless the service receives.
void Gravex::loadOptions()
{
    settings = options::openStore();
    runSettings = new AutostartEntry;
    const options::Values stored = options::load(*settings, options::defaultDataFolder());
    showTrayMessage = stored.showTrayMessage;
    autoLoad = stored.autoLoad;
    language = stored.language;
    loadedLanguage = language;
    if (!service->serviceReceiving())
        own = new LocalReception(*settings, stored);
    useReception(own ? static_cast<Reception *>(own) : service);
}

// The options that belong to who receives go to it (the service takes them
// only from a user who may change them, and stores them itself); the others
// are this program's own.
void Gravex::applyOptions()
{
    udpPort = options::portFromText(portEdit->text());
    showTrayMessage = showTrayMessageCheck->isChecked();
    autoLoad = autoLoadCheck->isChecked();
    debug = debugCheck->isChecked();
    language = languageBox->currentIndex() != 0 ? 1 : 0;

    options::Values values = reception->options();
    values.filePath = filePath;
    values.udpPort = udpPort;
    values.debug = debug;
    values.language = language;
    values.showTrayMessage = showTrayMessage;
    values.autoLoad = autoLoad;
    if (reception->whoMayChange().isEmpty())
        reception->apply(values, folderEdit->text());
    options::store(*settings, values, options::UserFields);

    if (loadedLanguage != language)
        QMessageBox::warning(this, getAppName(true), getLanguageString(strings::RestartNeeded),
                             QMessageBox::Ok, QMessageBox::NoButton);
    loadedLanguage = language;

    if (autoLoad)
        runSettings->write(options::autorunCommand());
    else
        runSettings->remove();
}
