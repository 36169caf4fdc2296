#include "settings/options.h"

#include <QDir>
#include <QVariant>

namespace options {

int languageFromText(const QString &text)
{
    return text == QLatin1String("Russian") ? 0 : 1;
}

QString languageText(int language)
{
    return language != 0 ? QStringLiteral("English") : QStringLiteral("Russian");
}

QString defaultDataFolder()
{
    const QChar separator = QDir::separator();
    QString folder = QDir::toNativeSeparators(QDir::homePath());
    if (!folder.endsWith(separator))
        folder += separator;
    return folder + QLatin1String("WeightData");
}

quint16 portFromText(const QString &text)
{
    return quint16(QVariant(text).toInt());
}

} // namespace options
