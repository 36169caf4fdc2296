#include "reception/reception.h"

#include "i18n/strings.h"

QString Reception::whoMayChangeText(int language, const QString &who)
{
    if (who.startsWith(QLatin1String("group:")))
        return strings::phrase(language, strings::OnlyGroupMayChange).arg(who.mid(6));
    return strings::phrase(language, strings::OnlyAdministratorsMayChange);
}
