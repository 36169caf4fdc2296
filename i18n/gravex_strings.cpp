// Gravex: the interface texts in the language in force at the moment of the call.
#include "app/gravex.h"
#include "i18n/strings.h"

QString Gravex::getLanguageString(qint8 param)
{
    return strings::interfaceString(language, quint8(param));
}

QString Gravex::getAppName(bool param)
{
    return strings::appName(language, param);
}
