#pragma once

#include <QString>

class QSettings;

// The stored options: value names, defaults and their coding.
namespace options {

constexpr char filePathKey[] = "FilePath";
constexpr char udpPortKey[] = "UdpPort";
constexpr char showTrayMessageKey[] = "ShowTrayMessage";
constexpr char autoLoadKey[] = "AutoLoad";
constexpr char debugKey[] = "Debug";
constexpr char languageKey[] = "Language";
// Addresses and subnets whose datagrams are taken; empty or absent: any sender.
constexpr char allowedSendersKey[] = "AllowedSenders";
// Minutes a scale may be silent while others send before the user is warned;
// 0: never.
constexpr char silentScaleMinutesKey[] = "SilentScaleMinutes";

constexpr quint16 defaultUdpPort = 5001;
constexpr bool defaultShowTrayMessage = true;
constexpr bool defaultAutoLoad = true;
constexpr bool defaultDebug = false;
constexpr int defaultSilentScaleMinutes = 30;
constexpr int longestSilentScaleMinutes = 24 * 60;

// The stored options, each with its default where none is stored.
struct Values
{
    QString filePath;
    quint16 udpPort = defaultUdpPort;
    bool showTrayMessage = defaultShowTrayMessage;
    bool autoLoad = defaultAutoLoad;
    bool debug = defaultDebug;
    int language = 0;
    QString allowedSenders;
    int silentScaleMinutes = defaultSilentScaleMinutes;
};

// The options as stored. An empty or absent data folder is `defaultFolder`;
// a data folder that does not exist is made, one level only.
Values load(const QSettings &store, const QString &defaultFolder);

// Which of the options a program stores: those of receiving (the tray
// program receiving itself, the service) and those that are each user's own
// (the tray program, also as the service's window).
enum Fields {
    ReceptionFields = 1, // FilePath, UdpPort, Debug, Language
    WatchFields = 2,     // AllowedSenders, SilentScaleMinutes
    UserFields = 4,      // ShowTrayMessage, AutoLoad, Language
};
// Stores those `fields` of `values`, each as the program reads it back.
void store(QSettings &store, const Values &values, int fields);

// The data folder after Apply, given the folder field's text: a folder that
// does not exist yet is made (one level) and becomes the data folder, or, if
// that fails, `current` stays and `*notMade` is set; an existing folder is
// taken only through Select..., so `current` stays.
QString appliedDataFolder(const QString &typed, const QString &current, bool *notMade);

// Minutes as stored or asked, within 0 (never) and a day.
int silentScaleMinutes(int minutes);

// "Russian", exactly, is Russian (0); any other text is English (1).
int languageFromText(const QString &text);
QString languageText(int language);

// The home folder, a separator and "WeightData", with native separators.
QString defaultDataFolder();

// A port typed by the user: not a number gives 0, above 65535 keeps the low
// 16 bits (70000 gives 4464).
quint16 portFromText(const QString &text);

// The options store of the current user (settings_win.cpp, settings_linux.cpp).
QSettings *openStore();

// The command that starts this program at login (settings_win.cpp,
// settings_linux.cpp).
QString autorunCommand();

} // namespace options
