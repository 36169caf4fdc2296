#pragma once

// A throw-away home for one test: HOME and XDG_CONFIG_HOME point into a
// temporary folder, so the options file, the autostart entry and the data
// folder of a Gravex built afterwards all land there.
#include <QDir>
#include <QFile>
#include <QMap>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

class TestHome
{
public:
    TestHome()
    {
        QDir().mkpath(configDir());
        qputenv("HOME", QFile::encodeName(dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir()));
        // QSettings reads XDG_CONFIG_HOME once per process; later homes of
        // the same test program must be named to it explicitly.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir());
    }

    bool isValid() const { return dir.isValid(); }
    QString path(const QString &relative) const { return dir.filePath(relative); }
    QString configDir() const { return dir.filePath(QStringLiteral(".config")); }
    QString confPath() const { return configDir() + QStringLiteral("/Ponderix.conf"); }
    QString autostartPath() const
    {
        return configDir() + QStringLiteral("/autostart/Ponderix.desktop");
    }
    QString dataFolder() const { return dir.filePath(QStringLiteral("data")); }

    // Writes the options file by hand: the data folder inside this home and
    // port 0 (any free port), overridden or completed by `values`; a null
    // value leaves its key out.
    void writeConf(const QMap<QString, QString> &values = {}) const
    {
        QMap<QString, QString> all{{QStringLiteral("FilePath"), dataFolder()},
                                   {QStringLiteral("UdpPort"), QStringLiteral("0")}};
        for (auto it = values.begin(); it != values.end(); ++it) {
            if (it.value().isNull())
                all.remove(it.key());
            else
                all.insert(it.key(), it.value());
        }
        QString text = QStringLiteral("[General]\n");
        for (auto it = all.begin(); it != all.end(); ++it)
            text += it.key() + QLatin1Char('=') + it.value() + QLatin1Char('\n');
        QFile file(confPath());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toUtf8());
    }

    // The lines of a text file, without line ends; empty when it is missing.
    static QStringList lines(const QString &fileName)
    {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir dir;
};
