#pragma once

// What the tests share: On-Line datagrams written out byte by byte, a
// throw-away home, the main object started in it, and a driver for the
// modal boxes it opens.
#include "gravexprobe.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using Conf = QMap<QString, QString>;

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A frame is its 13-byte head (header, bodyLength, type bytes, packetNumber,
// packetCount, recordDataLength), the records, then the CRC16 low byte first.
// The CRC bytes were worked out apart from the program.
inline QByteArray packet(const char *head, const QByteArray &records, const char *crc)
{
    return hex(head) + records + hex(crc);
}

// Transaction 1234 of 5.12.2011 14:03:09 from scale 0 0 0 1 7, packet 1 of 1.
inline const QByteArray example = hex("F8 55 CE 3A 00 02 08 01 00 01 00 32 00 D2 04 00"
                                      "00 00 00 00 00 0B 0C 05 0E 03 09 02 00 00 00 00"
                                      "00 00 01 07 03 69 00 00 00 EE 11 00 00 E2 04 00"
                                      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 9C"
                                      "A3");
inline const QByteArray exampleRecord = example.mid(13, 50);

// The line of the example's record under another transaction number.
inline QByteArray lineOf(int n)
{
    return QByteArray::number(n) + ";0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;";
}

// One transfer in three packets carrying transactions 1, 2 and 3.
inline const QByteArray packet1of3 =
    packet("F855CE 3A00 0208 0100 0300 3200", hex("01000000") + exampleRecord.mid(4), "C043");
inline const QByteArray packet2of3 =
    packet("F855CE 3A00 0208 0200 0300 3200", hex("02000000") + exampleRecord.mid(4), "4AD8");
inline const QByteArray packet3of3 =
    packet("F855CE 3A00 0208 0300 0300 3200", hex("03000000") + exampleRecord.mid(4), "CCAE");
// Accepted, but its one record has PLU 0 and gives no text.
inline const QByteArray pluZero =
    packet("F855CE 3A00 0208 0100 0100 3200",
           exampleRecord.left(24) + hex("00000000") + exampleRecord.mid(28), "6DAD");

// Each fails exactly one acceptance check, in their order; the CRC is right
// unless named.
inline const QByteArray size64 =
    packet("F855CE 3900 0208 0100 0100 3100", exampleRecord.left(49), "EDCA");
inline const QByteArray headerSwapped =
    packet("55F8CE 3A00 0208 0100 0100 3200", exampleRecord, "9CA3");
inline const QByteArray subtype09 =
    packet("F855CE 3A00 0209 0100 0100 3200", exampleRecord, "A986");
inline const QByteArray bodyLengthPlusOne =
    packet("F855CE 3B00 0208 0100 0100 3200", exampleRecord, "9CA3");
inline const QByteArray wrongCrc = packet("F855CE 3A00 0208 0100 0100 3200", exampleRecord, "9CA4");

inline const QByteArray englishHeader =
    "# Format of the data in message transfered by scales Massa-K in mode On-Line\r\n\r\n"
    "# Transaction number\r\n# Record status\r\n# Transaction date and time\r\n"
    "# Group number\r\n# Number of scales\r\n# Operator number\r\n# PLU of the goods\r\n"
    "# Goods price\r\n# Weight of the goods\r\n\r\n\r\n";

// An English data file holding the lines of lineOf(n) for each n.
inline QByteArray englishFile(std::initializer_list<int> transactions)
{
    QByteArray content = englishHeader;
    for (int n : transactions)
        content += lineOf(n) + "\r\n";
    return content;
}

// The main object, built the way main() builds it, in a throw-away home:
// HOME and XDG_CONFIG_HOME point into a temporary folder, so the options
// file, the autostart entry and the data folder all land there.
struct Fixture
{
    QTemporaryDir home;
    std::unique_ptr<Gravex> gravex;
    std::unique_ptr<GravexProbe> probe;

    // The options file names the data folder "data" in the home, a free port
    // and English, changed or completed by `conf`; without `withConf` there
    // is none.
    explicit Fixture(const Conf &conf = {}, bool withConf = true)
    {
        QDir().mkpath(path(".config"));
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(path(".config")));
        // QSettings reads XDG_CONFIG_HOME once per process.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path(".config"));
        Conf all{{"FilePath", path("data")}, {"UdpPort", "0"}, {"Language", "English"}};
        all.insert(conf);
        QFile file(confPath());
        if (withConf && file.open(QIODevice::WriteOnly)) {
            file.write("[General]\n");
            for (auto it = all.begin(); it != all.end(); ++it)
                file.write((it.key() + '=' + it.value() + '\n').toUtf8());
            file.close();
        }
        gravex = std::make_unique<Gravex>();
        probe = std::make_unique<GravexProbe>(*gravex);
    }

    QString path(const QString &relative) const { return home.filePath(relative); }
    QString confPath() const { return path(".config/Ponderix.conf"); }
    // A file in today's folder under the data folder "data".
    QString file(const QString &name) const
    {
        return path("data/" + QDate::currentDate().toString("dd.MM.yyyy") + '/' + name);
    }
    QStringList filesOfToday() const { return QDir(file({})).entryList(QDir::Files); }
    void save(const QByteArray &datagram) { probe->saveMessage(datagram); }
    // The arrival notice leaves the time of arrival and a blinking icon.
    bool noticed()
    {
        return !probe->trayIcon()->messageTime.isEmpty() ||
               GravexProbe::blinkTimer(probe->trayIcon())->isActive();
    }
};

// Answers the modal windows opened with exec(): a timer notes each new one,
// and what a message box says, and answers it.
class ModalDriver : public QObject
{
public:
    using Answer = std::function<void(QWidget *)>;
    static Answer press(QMessageBox::StandardButton button)
    {
        return [button](QWidget *w) { qobject_cast<QMessageBox *>(w)->button(button)->click(); };
    }

    explicit ModalDriver(Answer answer = [](QWidget *w) { w->close(); })
    {
        connect(&timer, &QTimer::timeout, this, [this, answer] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || !w->isVisible() || seen.contains(w))
                return;
            seen << w;
            if (auto *box = qobject_cast<QMessageBox *>(w)) {
                const QString icon =
                    QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box->icon());
                const QString buttons = QMetaEnum::fromType<QMessageBox::StandardButtons>()
                                            .valueToKeys(box->standardButtons())
                                            .replace("|FirstButton", ""); // another name of Ok
                boxes << QStringList{box->windowTitle(), box->text(), box->informativeText(), icon,
                                     buttons}
                             .join('|');
            }
            answer(w);
        });
        timer.start(10);
    }

    QStringList boxes; // title|text|informative text|icon|buttons of each message box

private:
    QTimer timer;
    QList<QPointer<QWidget>> seen;
};
