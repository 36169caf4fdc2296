#include "settings/options.h"

#include <QDir>
#include <QSettings>
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

Values load(const QSettings &store, const QString &defaultFolder)
{
    const auto stored = [&store](const char *key, const QVariant &fallback) {
        return store.value(QLatin1String(key), fallback);
    };
    Values v;
    v.filePath = stored(filePathKey, defaultFolder).toString();
    v.udpPort = quint16(stored(udpPortKey, int(defaultUdpPort)).toInt());
    v.showTrayMessage = stored(showTrayMessageKey, defaultShowTrayMessage).toBool();
    v.autoLoad = stored(autoLoadKey, defaultAutoLoad).toBool();
    v.debug = stored(debugKey, defaultDebug).toBool();
    v.language = languageFromText(stored(languageKey, QStringLiteral("Russian")).toString());
    v.allowedSenders = stored(allowedSendersKey, QString()).toString();
    bool number = false;
    const int minutes = stored(silentScaleMinutesKey, defaultSilentScaleMinutes).toInt(&number);
    v.silentScaleMinutes = silentScaleMinutes(number ? minutes : defaultSilentScaleMinutes);
    if (v.filePath.isEmpty())
        v.filePath = defaultFolder;
    if (!QDir(v.filePath).exists())
        QDir().mkdir(v.filePath);
    return v;
}

void store(QSettings &s, const Values &v, int fields)
{
    const auto set = [&s](const char *key, const QVariant &value) {
        s.setValue(QLatin1String(key), value);
    };
    if (fields & ReceptionFields) {
        set(filePathKey, v.filePath);
        set(udpPortKey, int(v.udpPort));
        set(debugKey, v.debug);
    }
    if (fields & UserFields) {
        set(showTrayMessageKey, v.showTrayMessage);
        set(autoLoadKey, v.autoLoad);
    }
    if (fields & (ReceptionFields | UserFields))
        set(languageKey, languageText(v.language));
    if (fields & WatchFields) {
        set(allowedSendersKey, v.allowedSenders);
        set(silentScaleMinutesKey, v.silentScaleMinutes);
    }
    s.sync();
}

int silentScaleMinutes(int minutes)
{
    return qBound(0, minutes, longestSilentScaleMinutes);
}

QString appliedDataFolder(const QString &typed, const QString &current, bool *notMade)
{
    *notMade = false;
    QDir folder(typed);
    if (folder.exists())
        return current;
    // Asked of the folder itself, so only an absolute path can be created.
    if (folder.mkdir(typed))
        return typed;
    *notMade = true;
    return current;
}

quint16 portFromText(const QString &text)
{
    return quint16(QVariant(text).toInt());
}

} // namespace options
