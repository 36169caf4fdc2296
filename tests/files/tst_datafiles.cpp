// What accepted datagrams leave on disk: the numbered data files with their
// header, the debug dump, the start-up numbering, and what happens when a
// file cannot be written.
#include "files/encodedstream.h"
#include "frames.h"
#include "sandbox.h"

#include <QFileInfo>

using namespace frames;
using namespace Qt::StringLiterals;
using namespace sandbox;

namespace {

// The Russian header in Windows-1251.
const QByteArray russianHeader = QByteArray::fromHex(
    // # Формат данных в сообщениях передаваемых весами Масса-К в режиме On-Line
    "2320d4eef0ece0f220e4e0ededfbf520e220f1eeeee1f9e5ede8fff520efe5f0e5e4e0e2e0e5ecfbf5"
    "20e2e5f1e0ece820cce0f1f1e02dca20e220f0e5e6e8ece5204f6e2d4c696e650d0a"
    "0d0a"
    "2320cdeeece5f020f2f0e0ede7e0eaf6e8e80d0a"                 // # Номер транзакции
    "2320d1f2e0f2f3f120e7e0efe8f1e80d0a"                       // # Статус записи
    "2320c4e0f2e020e820e2f0e5ecff2020f2f0e0ede7e0eaf6e8e80d0a" // # Дата и время  транзакции
    "2320c3f0f3efefeee2eee920edeeece5f00d0a"                   // # Групповой номер
    "2320cdeeece5f020e2e5f1eee20d0a"                           // # Номер весов
    "2320cdeeece5f020eeefe5f0e0f2eef0e00d0a"                   // # Номер оператора
    "2320504c5520f2eee2e0f0e00d0a"                             // # PLU товара
    "2320d6e5ede020f2eee2e0f0e00d0a"                           // # Цена товара
    "2320cce0f1f1e020f2eee2e0f0e00d0a"                         // # Масса товара
    "0d0a"
    "0d0a");

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts);
}

void createFile(const QString &path, const QByteArray &content = {})
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestDataFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filing_data();
    void filing();
    void failedChecksLeaveTraces_data();
    void failedChecksLeaveTraces();
    void startupNumbering_data();
    void startupNumbering();
    void trailingSeparatorGivesSamePaths_data();
    void trailingSeparatorGivesSamePaths();
    void headerInTheLanguageOfItsOpening();
    void linesReachTheSystemAtOnce();
    void takenNameIsNeverEmptied();
    void unopenableFileLosesOnlyItsTransfer_data();
    void unopenableFileLosesOnlyItsTransfer();
    void writeFailureLosesOnlyItsTransfer();
};

void TestDataFiles::filing_data()
{
    QTest::addColumn<bool>("debug");
    QTest::addColumn<QByteArrayList>("datagrams");
    QTest::addColumn<QStringList>("names");       // today's folder afterwards, by name
    QTest::addColumn<QByteArrayList>("contents"); // of those files, in the same order
    QTest::addColumn<qint64>("counter");

    QTest::newRow("three packets: one file, one header")
        << false << QByteArrayList{packet1of3, packet2of3, packet3of3} << words("data_1.txt")
        << QByteArrayList{englishFile({1, 2, 3})} << qint64(2);
    QTest::newRow("two transfers: two files")
        << false << QByteArrayList{single5, single6} << words("data_1.txt data_2.txt")
        << QByteArrayList{englishFile({5}), englishFile({6})} << qint64(3);
    QTest::newRow("empty text: header only")
        << false << QByteArrayList{pluZero} << words("data_1.txt") << QByteArrayList{englishHeader}
        << qint64(2);
    QTest::newRow("dropped datagrams amid a transfer")
        << false
        << QByteArrayList{packet1of3, wrongCrc, headerSwapped, size64, packet2of3, packet3of3}
        << words("data_1.txt") << QByteArrayList{englishFile({1, 2, 3})} << qint64(2);
    QTest::newRow("last packet lost: next transfer appends")
        << false << QByteArrayList{packet1of3, packet2of3, single5} << words("data_1.txt")
        << QByteArrayList{englishFile({1, 2, 5})} << qint64(2);
    QTest::newRow("dump keeps the transfer's last packet")
        << true << QByteArrayList{packet1of3, packet2of3, packet3of3}
        << words("data_1.txt debug_1.txt") << QByteArrayList{englishFile({1, 2, 3}), packet3of3}
        << qint64(2);
    QTest::newRow("dump and data file share the number")
        << true << QByteArrayList{single5, single6}
        << words("data_1.txt data_2.txt debug_1.txt debug_2.txt")
        << QByteArrayList{englishFile({5}), englishFile({6}), single5, single6} << qint64(3);
    QTest::newRow("wrong CRC replaces the dump")
        << true << QByteArrayList{packet1of3, wrongCrc} << words("data_1.txt debug_1.txt")
        << QByteArrayList{englishFile({1}), wrongCrc} << qint64(1);
}

void TestDataFiles::filing()
{
    QFETCH(bool, debug);
    QFETCH(QByteArrayList, datagrams);
    QFETCH(QStringList, names);
    QFETCH(QByteArrayList, contents);
    QFETCH(qint64, counter);
    Sandbox sb;
    sb.start({{u"Debug"_s, debug}});

    for (const QByteArray &datagram : datagrams)
        sb.save(datagram);

    QCOMPARE(sb.filesOfToday(), names);
    for (int i = 0; i < names.size(); ++i)
        QCOMPARE(readFile(sb.dateFolder() + u'/' + names[i]), contents[i]);
    QCOMPARE(sb.probe->fileCounter(), counter);
}

// Checks 1-3 come before the date folder and the dump, checks 4-5 after.
void TestDataFiles::failedChecksLeaveTraces_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("traces");

    QTest::newRow("64 bytes") << size64 << false;
    QTest::newRow("header bytes swapped") << headerSwapped << false;
    QTest::newRow("subtype 09") << subtype09 << false;
    QTest::newRow("bodyLength off by one") << bodyLengthPlusOne << true;
    QTest::newRow("wrong CRC") << wrongCrc << true;
}

void TestDataFiles::failedChecksLeaveTraces()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, traces);
    Sandbox sb;
    sb.start({{u"Debug"_s, true}});
    QVERIFY(QDir(sb.dateFolder()).removeRecursively());
    sb.probe->fileCounter() = 5;

    sb.save(datagram);

    QCOMPARE(QFileInfo::exists(sb.dateFolder()), traces);
    if (traces) {
        // A new date folder restarts the numbering.
        QCOMPARE(sb.filesOfToday(), words("debug_1.txt"));
        QCOMPARE(readFile(sb.debugFile(1)), datagram);
        QCOMPARE(sb.probe->fileCounter(), qint64(1));
    } else {
        QCOMPARE(sb.probe->fileCounter(), qint64(5));
    }
    QVERIFY(!noticeGiven(*sb.probe));
}

void TestDataFiles::startupNumbering_data()
{
    QTest::addColumn<QStringList>("entries"); // a trailing '/' makes a folder
    QTest::addColumn<qint64>("counter");

    QTest::newRow("no date folder yet") << QStringList() << qint64(1);
    QTest::newRow("empty date folder") << QStringList{QString()} << qint64(1);
    QTest::newRow("data_1..7 and debug_9") << words("data_1.txt data_2.txt data_3.txt data_4.txt "
                                                    "data_5.txt data_6.txt data_7.txt debug_9.txt")
                                           << qint64(10);
    QTest::newRow("all digits of a name: a1b2.txt") << words("a1b2.txt") << qint64(13);
    QTest::newRow("leading zeros") << words("data_007.txt") << qint64(8);
    QTest::newRow("above 2^31-1 ignored") << words("data_2147483648.txt data_3.txt") << qint64(4);
    QTest::newRow("2^31-1 still counts") << words("data_2147483647.txt") << qint64(2147483648);
    QTest::newRow("folders not counted") << words("99/ data_2.txt") << qint64(3);
    QTest::newRow("hidden files not counted") << words(".data_50.txt data_2.txt") << qint64(3);
    QTest::newRow("names without digits") << words("notes.txt") << qint64(1);
}

void TestDataFiles::startupNumbering()
{
    QFETCH(QStringList, entries);
    QFETCH(qint64, counter);
    Sandbox sb;
    if (!entries.isEmpty())
        QVERIFY(QDir().mkpath(sb.dateFolder()));
    for (const QString &entry : entries) {
        if (entry.endsWith(u'/'))
            QVERIFY(QDir(sb.dateFolder()).mkdir(entry.chopped(1)));
        else if (!entry.isEmpty())
            createFile(sb.dateFolder() + u'/' + entry);
    }
    QVERIFY(QDir().mkpath(sb.dataFolder));

    sb.start();
    QCOMPARE(sb.probe->fileCounter(), counter);
    QVERIFY(QFileInfo(sb.dateFolder()).isDir());

    sb.save(example);
    QCOMPARE(readFile(sb.dataFile(counter)), englishFile({1234}));
}

// With or without a separator at its end, the data folder gives one path.
void TestDataFiles::trailingSeparatorGivesSamePaths_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("no separator") << QString();
    QTest::newRow("ends with a separator") << QString(QDir::separator());
}

void TestDataFiles::trailingSeparatorGivesSamePaths()
{
    QFETCH(QString, suffix);
    Sandbox sb;
    QVERIFY(QDir().mkpath(sb.dataFolder));
    sb.start({{u"FilePath"_s, QString(QDir::toNativeSeparators(sb.dataFolder) + suffix)},
              {u"Debug"_s, true}});

    sb.save(example);

    QCOMPARE(sb.probe->dataFile()->fileName(), QDir::toNativeSeparators(sb.dataFile(1)));
    QCOMPARE(sb.probe->debugFile()->fileName(), QDir::toNativeSeparators(sb.debugFile(1)));
    QCOMPARE(sb.filesOfToday(), (words("data_1.txt debug_1.txt")));
}

// Data file bytes in both languages: the header is written in the language
// in force when the file is opened; a change applies from the next file.
void TestDataFiles::headerInTheLanguageOfItsOpening()
{
    Sandbox sb;
    sb.start({{u"Language"_s, u"Russian"_s}});

    sb.save(packet1of3);
    sb.probe->language() = 1; // as Apply leaves it
    sb.save(packet2of3);
    sb.save(packet3of3);
    sb.save(example);

    QCOMPARE(readFile(sb.dataFile(1)), russianHeader +
                                           "1;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                           "2;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n"
                                           "3;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n");
    QCOMPARE(readFile(sb.dataFile(2)),
             englishHeader + "1234;0;5.12.2011 14:3:9;2;00017;3;105;4590;1250;\r\n");
}

// A crash or a forced logoff mid-transfer loses no line that was handled:
// each one is with the system before the next datagram is read.
void TestDataFiles::linesReachTheSystemAtOnce()
{
    Sandbox sb;
    sb.start();

    sb.save(packet1of3);
    QVERIFY(sb.probe->dataFile()->isOpen());
    QCOMPARE(QFileInfo(sb.dataFile(1)).size(), englishFile({1}).size());
    QCOMPARE(readFile(sb.dataFile(1)), englishFile({1}));

    sb.save(packet2of3);
    QVERIFY(sb.probe->dataFile()->isOpen());
    QCOMPARE(readFile(sb.dataFile(1)), englishFile({1, 2}));
}

// After the data folder was changed while running, the counter may name a
// file that exists there: the transfer moves on to a free number, and its
// dump follows it.
void TestDataFiles::takenNameIsNeverEmptied()
{
    Sandbox sb;
    sb.start({{u"Debug"_s, true}});
    const QString other = sb.home.path() + u"/other"_s;
    const QString otherDay = other + u'/' + today();
    QVERIFY(QDir().mkpath(otherDay));
    createFile(otherDay + u"/data_1.txt"_s, "kept 1");
    createFile(otherDay + u"/data_2.txt"_s, "kept 2");
    createFile(otherDay + u"/debug_1.txt"_s, "kept dump");
    QCOMPARE(sb.probe->fileCounter(), qint64(1));

    sb.probe->filePath() = QDir::toNativeSeparators(other);
    sb.save(single5);

    QCOMPARE(readFile(otherDay + u"/data_1.txt"_s), QByteArray("kept 1"));
    QCOMPARE(readFile(otherDay + u"/data_2.txt"_s), QByteArray("kept 2"));
    QCOMPARE(readFile(otherDay + u"/debug_1.txt"_s), QByteArray("kept dump"));
    QCOMPARE(readFile(otherDay + u"/data_3.txt"_s), englishFile({5}));
    QCOMPARE(readFile(otherDay + u"/debug_3.txt"_s), single5);
    QCOMPARE(sb.probe->fileCounter(), qint64(4));
}

void TestDataFiles::unopenableFileLosesOnlyItsTransfer_data()
{
    QTest::addColumn<QString>(
        "badFolder"); // under the home folder, which holds a plain file "plain"

    // Root may write anywhere, so a plain file stands in for a folder that
    // cannot be written.
    QTest::newRow("data folder is a plain file") << u"plain"_s;
    QTest::newRow("data folder's parent is gone") << u"gone/data"_s;
}

void TestDataFiles::unopenableFileLosesOnlyItsTransfer()
{
    QFETCH(QString, badFolder);
    Sandbox sb;
    sb.start();
    createFile(sb.home.path() + u"/plain"_s, "not a folder");

    sb.probe->filePath() = QDir::toNativeSeparators(sb.home.path() + u'/' + badFolder);
    for (const QByteArray &datagram : {packet1of3, packet2of3, packet3of3})
        sb.save(datagram);

    QVERIFY(!noticeGiven(*sb.probe));
    QVERIFY(sb.probe->newFile());
    // One warning for the one file of the transfer, naming it.
    QCOMPARE(sb.probe->warningCount(), 1);
    QVERIFY(sb.probe->lastWarning().startsWith(u"Data could not be saved to the file:\n"_s));
    QVERIFY(sb.probe->lastWarning().endsWith(u"data_1.txt"_s));
    // Nothing was created in place of the missing folders.
    QCOMPARE(QDir(sb.home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (words("data plain")));
    QCOMPARE(readFile(sb.home.path() + u"/plain"_s), QByteArray("not a folder"));

    // Once the folder is back, the next transfer gets a file of its own.
    sb.probe->filePath() = QDir::toNativeSeparators(sb.dataFolder);
    sb.save(single5);
    const QStringList files = sb.filesOfToday();
    QCOMPARE(files.size(), 1);
    QCOMPARE(readFile(sb.dateFolder() + u'/' + files.first()), englishFile({5}));
    QVERIFY(noticeGiven(*sb.probe));
}

void TestDataFiles::writeFailureLosesOnlyItsTransfer()
{
#ifndef Q_OS_LINUX
    QSKIP("needs /dev/full");
#endif
    QFile full(u"/dev/full"_s);
    QVERIFY(full.open(QIODevice::WriteOnly));
    EncodedStream stream;
    stream.setDevice(&full);
    QVERIFY(!(stream.write(u"x"_s) && stream.flush())); // the disk is full

    Sandbox sb;
    sb.start();
    sb.save(packet1of3);
    sb.probe->trayIcon()->messageTime.clear();
    GravexProbe::blinkTimer(sb.probe->trayIcon())->stop();
    // The rest of this transfer meets a full disk.
    QFile *dataFile = sb.probe->dataFile();
    dataFile->close();
    dataFile->setFileName(u"/dev/full"_s);
    QVERIFY(dataFile->open(QIODevice::WriteOnly));

    sb.save(packet2of3);
    QVERIFY(!noticeGiven(*sb.probe));
    sb.save(packet3of3);
    QVERIFY(!noticeGiven(*sb.probe));
    QCOMPARE(sb.probe->warningCount(), 1);

    sb.save(single5);
    QCOMPARE(readFile(sb.dataFile(1)), englishFile({1}));
    QCOMPARE(readFile(sb.dataFile(2)), englishFile({5}));
    QVERIFY(noticeGiven(*sb.probe));
}

QTEST_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
