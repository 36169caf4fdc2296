#pragma once

// A Gravex started in a home folder of its own, with its options written
// beforehand, and helpers to look at what it put on disk.
#include "app/gravex.h"
#include "frames.h"
#include "gravexprobe.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantMap>

#include <memory>

namespace sandbox {

inline const char *const storeName = "Ponderix";

// Qt settles where the options store lies at the first use of QSettings and
// keeps it for the rest of the process, so XDG_CONFIG_HOME is pointed once
// at a folder of this process; each sandbox rewrites the store in it.
inline QSettings *openStore()
{
    static QTemporaryDir configHome;
    static const bool pointed = qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    Q_UNUSED(pointed);
    auto *store =
        new QSettings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(storeName));
    if (!store->fileName().startsWith(configHome.path()))
        qFatal("The options store is %s, outside the test's folder", qPrintable(store->fileName()));
    return store;
}

inline QString storeFile()
{
    std::unique_ptr<QSettings> store(openStore());
    return store->fileName();
}

// Replaces the stored options by `values`, written as text the way they are
// read back from the file; an empty map leaves no store at all.
inline void writeStore(const QVariantMap &values)
{
    {
        std::unique_ptr<QSettings> store(openStore());
        store->clear();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            store->setValue(it.key(), it.value().toString());
        store->sync();
    }
    if (values.isEmpty())
        QFile::remove(storeFile());
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString today()
{
    return QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
}

// The English header of a data file.
inline const QByteArray englishHeader =
    "# Format of the data in message transfered by scales Massa-K in mode On-Line\r\n"
    "\r\n"
    "# Transaction number\r\n"
    "# Record status\r\n"
    "# Transaction date and time\r\n"
    "# Group number\r\n"
    "# Number of scales\r\n"
    "# Operator number\r\n"
    "# PLU of the goods\r\n"
    "# Goods price\r\n"
    "# Weight of the goods\r\n"
    "\r\n"
    "\r\n";

inline QByteArray crlfLine(const QString &line)
{
    return line.toLatin1() + "\r\n";
}

// An English data file holding the lines of frames::lineOf(n) for each n.
inline QByteArray englishFile(std::initializer_list<int> transactions)
{
    QByteArray content = englishHeader;
    for (int n : transactions)
        content += crlfLine(frames::lineOf(n));
    return content;
}

// The arrival notice leaves the time of arrival and a blinking icon.
inline bool noticeGiven(GravexProbe &probe)
{
    return !probe.trayIcon()->messageTime.isEmpty() ||
           GravexProbe::blinkTimer(probe.trayIcon())->isActive();
}

struct Sandbox
{
    QTemporaryDir home;
    const QString dataFolder = home.path() + QLatin1String("/data");
    std::unique_ptr<Gravex> gravex;
    std::unique_ptr<GravexProbe> probe;

    Sandbox() { qputenv("HOME", home.path().toLocal8Bit()); }

    // What the tests start with unless they say otherwise: English, no
    // debug dump, a free port, no autostart.
    static QVariantMap defaults(const QString &dataFolder)
    {
        return {{QStringLiteral("FilePath"), dataFolder},
                {QStringLiteral("UdpPort"), 0},
                {QStringLiteral("ShowTrayMessage"), true},
                {QStringLiteral("AutoLoad"), false},
                {QStringLiteral("Debug"), false},
                {QStringLiteral("Language"), QStringLiteral("English")}};
    }

    // Starts the program with the defaults, changed by `options`.
    void start(const QVariantMap &options = {})
    {
        QVariantMap stored = defaults(dataFolder);
        for (auto it = options.cbegin(); it != options.cend(); ++it)
            stored.insert(it.key(), it.value());
        launch(stored);
    }

    // Starts the program with exactly `stored` in the options store.
    void launch(const QVariantMap &stored)
    {
        writeStore(stored);
        gravex = std::make_unique<Gravex>();
        probe = std::make_unique<GravexProbe>(*gravex);
    }

    QString dateFolder() const { return dataFolder + QLatin1Char('/') + today(); }
    QString dataFile(qint64 n) const
    {
        return dateFolder() + QStringLiteral("/data_%1.txt").arg(n);
    }
    QString debugFile(qint64 n) const
    {
        return dateFolder() + QStringLiteral("/debug_%1.txt").arg(n);
    }
    QStringList filesOfToday() const
    {
        return QDir(dateFolder()).entryList(QDir::Files, QDir::Name);
    }
    void save(const QByteArray &datagram) { probe->saveMessage(datagram); }
};

} // namespace sandbox
