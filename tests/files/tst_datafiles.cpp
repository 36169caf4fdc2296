// What accepted datagrams leave on disk: the numbered data files with their
// header, the debug dump, the numbering, and what happens when a file or
// its folder cannot be written, fills up or goes away.
#include "datagrams.h"
#include "files/datafiles.h"
#include "files/encodedstream.h"
#include "files/syncqueue.h"
#include "fixture.h"
#include "platform/platform.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

// The Russian header in Windows-1251.
const QByteArray russianHeader = hex(
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
    "0d0a0d0a");

void createFile(const QString &path, const QByteArray &content = {})
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QString saveFailed = QStringLiteral("Data could not be saved to the file:\n");

} // namespace

class TestDataFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A file used against Qt's rules (renamed or opened while open, written
    // while closed) is a fault even where Qt happens to cope with it.
    void init() { QTest::failOnWarning(QRegularExpression("^QFile|^QIODevice")); }

    void filing_data()
    {
        QTest::addColumn<bool>("debug");
        QTest::addColumn<QList<QByteArrayList>>("batches");
        QTest::addColumn<QStringList>("names");       // today's folder afterwards
        QTest::addColumn<QByteArrayList>("contents"); // of those files, in the same order
        using Batches = QList<QByteArrayList>;
        QTest::newRow("three packets over two batches: one file, one header")
            << false << Batches{{packet1of3}, {packet2of3, packet3of3}} << QStringList{"data_1.txt"}
            << QByteArrayList{englishFile({1, 2, 3})};
        QTest::newRow("dropped datagrams amid a transfer")
            << false << Batches{{packet1of3, wrongCrc, headerSwapped, packet2of3, packet3of3}}
            << QStringList{"data_1.txt"} << QByteArrayList{englishFile({1, 2, 3})};
        QTest::newRow("last packet lost: next transfer appends")
            << false << Batches{{packet1of3, packet2of3}, {example}} << QStringList{"data_1.txt"}
            << QByteArrayList{englishFile({1, 2, 1234})};
        QTest::newRow("two transfers in a batch, one without text: dumps share their numbers")
            << true << Batches{{example, pluZero}}
            << QStringList{"data_1.txt", "data_2.txt", "debug_1.txt", "debug_2.txt"}
            << QByteArrayList{englishFile({1234}), englishHeader, example, pluZero};
        QTest::newRow("dump holds the last datagram, wrong CRC too; none for a bad header")
            << true << Batches{{packet1of3}, {wrongCrc, headerSwapped}}
            << QStringList{"data_1.txt", "debug_1.txt"}
            << QByteArrayList{englishFile({1}), wrongCrc};
    }
    void filing()
    {
        QFETCH(bool, debug);
        QFETCH(QList<QByteArrayList>, batches);
        QFETCH(QStringList, names);
        QFETCH(QByteArrayList, contents);
        Fixture f({{"Debug", debug}});
        for (const QByteArrayList &batch : batches)
            f.save(batch);
        QCOMPARE(f.filesOfToday(), names);
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(readFile(f.file(names[i])), contents[i]);
        QVERIFY(f.blinking());
    }

    // The header is written in the language in force when the file is
    // opened; a change applies from the next file.
    void headerInTheLanguageOfItsOpening()
    {
        Fixture f({{"Language", "Russian"}});
        f.save({packet1of3});
        f.probe->setLanguage(1); // as Apply leaves it
        f.save({packet2of3, packet3of3, example});
        QCOMPARE(readFile(f.file("data_1.txt")),
                 russianHeader + lineOf(1) + "\r\n" + lineOf(2) + "\r\n" + lineOf(3) + "\r\n");
        QCOMPARE(readFile(f.file("data_2.txt")), englishFile({1234}));
    }

    // Characters outside the code page become '?', one per character.
    void windows1251()
    {
        QCOMPARE(toWindows1251(u"Ёё №€ Яa\u00FC\U0001F600Ђ"), hex("a8b820b98820df613f3f80"));
        QCOMPARE(toWindows1251(u"\u0080"), hex("3f")); // the first code point past ASCII has none
        // A surrogate without its other half is a character of its own.
        QCOMPARE(toWindows1251(u"\xD83Dx\x042F\xDC00x\x042F\xD83D"), hex("3f78df3f78df3f"));
    }

    // Start-up numbering: one more than the highest number in any name.
    void startupNumbering_data()
    {
        QTest::addColumn<QStringList>("entries"); // a trailing '/' makes a folder
        QTest::addColumn<QString>("next");
        QTest::newRow("data_1..3 and debug_9")
            << QStringList{"data_1.txt", "data_3.txt", "debug_9.txt"} << "data_10.txt";
        QTest::newRow("all digits of a name") << QStringList{"a1b2.txt"} << "data_13.txt";
        QTest::newRow("above 2^31-1 ignored")
            << QStringList{"data_2147483648.txt", "data_3.txt"} << "data_4.txt";
        QTest::newRow("2^31-1 counts")
            << QStringList{"data_2147483647.txt"} << "data_2147483648.txt";
        QTest::newRow("no digits") << QStringList{"notes.txt"} << "data_1.txt";
        QTest::newRow("folders not counted") << QStringList{"99/", "data_2.txt"} << "data_3.txt";
    }
    void startupNumbering()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, next);
        QTemporaryDir data;
        const QString day = datafiles::dateFolderPath(data.path(), QDate::currentDate());
        QVERIFY(QDir().mkpath(day));
        for (const QString &entry : entries)
            entry.endsWith('/') ? void(QDir(day).mkdir(entry)) : createFile(day + '/' + entry);
        Fixture f(
            {{"FilePath", QString(QDir::toNativeSeparators(data.path()) + QDir::separator())}});
        f.save({example});
        QCOMPARE(readFile(day + '/' + next), englishFile({1234}));
    }

    // After the data folder was changed while running, the counter may name
    // files that exist there, 2,100 of them: the transfer moves on to the
    // first free number, and its dump follows it.
    void takenNamesAreNeverEmptied()
    {
        Fixture f({{"Debug", true}});
        const QString day = f.path("other/") + QDate::currentDate().toString("dd.MM.yyyy");
        QVERIFY(QDir().mkpath(day));
        for (int n = 1; n <= 2100; ++n)
            createFile(QString("%1/data_%2.txt").arg(day).arg(n), "taken");
        createFile(day + "/data_02102.txt", "not the name of 2102");
        f.probe->setFilePath(QDir::toNativeSeparators(f.path("other")));
        f.save({example});
        f.save({example});
        QCOMPARE(readFile(day + "/data_2100.txt"), QByteArray("taken"));
        QCOMPARE(readFile(day + "/data_2101.txt"), englishFile({1234}));
        QCOMPARE(readFile(day + "/debug_2101.txt"), example);
        QCOMPARE(readFile(day + "/debug_2102.txt"), example);
        QCOMPARE(readFile(day + "/data_2102.txt"), englishFile({1234}));
    }

    // A day folder made for a new day, or under a data folder chosen while
    // running, starts the numbering at 1, its debug dump too.
    void newDayFolderStartsAtOne()
    {
        Fixture f({{"Debug", true}});
        f.save({example, example});
        QVERIFY(QDir().mkpath(f.path("other")));
        f.probe->setFilePath(QDir::toNativeSeparators(f.path("other")));
        f.save({example});
        const QString day = f.path("other/") + QDate::currentDate().toString("dd.MM.yyyy");
        QCOMPARE(QDir(day).entryList(QDir::Files), QStringList({"data_1.txt", "debug_1.txt"}));
    }

    // The day folder is worked out again when the day ends, the data folder
    // changes or a minute has passed.
    void todaysFolderAcrossMidnight()
    {
        const qint64 lastMs =
            QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59, 900)).toMSecsSinceEpoch();
        datafiles::TodaysFolder folder;
        QVERIFY(folder.update("D", lastMs - 3600 * 1000));
        QVERIFY(!folder.update("D", lastMs));
        QCOMPARE(folder.path(), datafiles::dateFolderPath("D", QDate(2026, 12, 6)));
        QVERIFY(folder.update("D", lastMs + 200));
        QCOMPARE(folder.path(), datafiles::dateFolderPath("D", QDate(2026, 12, 7)));
        QVERIFY(!folder.update("D", lastMs + 200 + 61 * 1000));
        QVERIFY(folder.update("E", lastMs + 300));
    }

    // The day folder deleted between transfers is made again before the next
    // datagram is dumped: its data file and its dump both start again at 1,
    // also for a datagram that fails its CRC.
    void dayFolderDeletedBetweenTransfers()
    {
        Fixture f({{"Debug", true}});
        f.save({example});
        f.save({example});
        QVERIFY(QDir(f.today()).removeRecursively());
        f.save({wrongCrc});
        QCOMPARE(f.filesOfToday(), QStringList{"debug_1.txt"});
        QCOMPARE(readFile(f.file("debug_1.txt")), wrongCrc);
        f.save({example});
        QCOMPARE(f.filesOfToday(), QStringList({"data_1.txt", "debug_1.txt"}));
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1234}));
        QCOMPARE(readFile(f.file("debug_1.txt")), example);
    }

#ifndef Q_OS_WIN // where the file the pass has yet to sync keeps its folder
    // The day folder deleted within a pass, after the pass looked for it:
    // the next transfer's file is made in it again, numbered from 1.
    void dayFolderDeletedWithinAPass()
    {
        Fixture f;
        QMetaObject::invokeMethod(f.gravex.get(), "saveMessage", Q_ARG(QByteArray, example));
        QVERIFY(QDir(f.today()).removeRecursively());
        f.save({example});
        QCOMPARE(f.filesOfToday(), QStringList{"data_1.txt"});
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1234}));
        QCOMPARE(shownWarning(), QString());
    }
#endif

    // A data folder path of 300 characters, beyond what a plain Windows path
    // may have: the open file is still known for what it is, and the whole
    // transfer stays in it.
    void longPathKeepsTheTransferInOneFile()
    {
        Fixture f;
        const QString folder = f.path(QString(140, 'a') + '/' + QString(140, 'b'));
        QVERIFY(folder.size() >= 300);
        QVERIFY(QDir().mkpath(folder));
        f.probe->setFilePath(QDir::toNativeSeparators(folder));
        for (const QByteArray &packet : {packet1of3, packet2of3, packet3of3})
            f.save({packet});
        const QString day = datafiles::dateFolderPath(folder, QDate::currentDate());
        QCOMPARE(QDir(day).entryList(QDir::Files), QStringList{"data_1.txt"});
        QCOMPARE(readFile(day + "/data_1.txt"), englishFile({1, 2, 3}));
    }

#ifndef Q_OS_WIN // where an open file keeps its folders from being deleted
    // The day folder, or the whole data folder, deleted mid-transfer: the
    // rest of the transfer goes to a new file in the folder made again.
    void dayFolderDeletedMidTransfer()
    {
        Fixture f;
        f.save({packet1of3});
        QVERIFY(QDir(f.path("data")).removeRecursively());
        QVERIFY(QDir().mkdir(f.path("data")));
        f.save({packet2of3, packet3of3});
        QCOMPARE(f.filesOfToday(), QStringList{"data_1.txt"});
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({2, 3}));
        QCOMPARE(shownWarning(), QString());
        // The file replaced by another one: that one is left alone.
        f.save({packet1of3});
        QVERIFY(QFile::remove(f.file("data_2.txt")));
        createFile(f.file("data_2.txt"), "another file");
        f.save({packet2of3, packet3of3});
        QCOMPARE(readFile(f.file("data_2.txt")), QByteArray("another file"));
        QCOMPARE(readFile(f.file("data_3.txt")), englishFile({2, 3}));
    }

    // A plain file in place of the day folder: nothing to write into, so the
    // user is told, once for the file, and no arrival is announced.
    void dayFolderReplacedByFile()
    {
        Fixture f;
        f.save({packet1of3});
        QVERIFY(QDir(f.today()).removeRecursively());
        createFile(f.today(), "not a folder");
        GravexProbe::blinkTimer(f.probe->trayIcon())->stop();
        f.save({packet2of3});
        QCOMPARE(shownWarning(), saveFailed + QDir::toNativeSeparators(f.file("data_1.txt")));
        closeWarnings();
        f.save({packet3of3});
        QCOMPARE(shownWarning(), QString());
        QVERIFY(!f.blinking());
        QCOMPARE(readFile(f.today()), QByteArray("not a folder"));
        // The lost records are not counted as stored with the next ones.
        QVERIFY(QFile::remove(f.today()));
        f.save({example});
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1234}));
        QCOMPARE(f.gravex->statusSnapshot().reception.stored, 2);
    }

    // A folder moved away after a pass wrote its transfer, a plain file in
    // its place, before the disk confirmed the folder: the user hears which
    // folder, and no arrival is announced. A new day folder's name is in the
    // data folder, which is confirmed with it.
    void unsyncedFolderIsNamed_data()
    {
        QTest::addColumn<QString>("moved"); // under the home; DAY: today's folder
        QTest::addColumn<QStringList>("unsynced");
        QTest::newRow("the day folder") << "data/DAY" << QStringList{"data/DAY"};
        QTest::newRow("the data folder") << "data" << QStringList{"data", "data/DAY"};
    }
    void unsyncedFolderIsNamed()
    {
        QFETCH(QString, moved);
        QFETCH(QStringList, unsynced);
        const QString day = QDate::currentDate().toString("dd.MM.yyyy");
        moved.replace("DAY", day);
        unsynced.replaceInStrings("DAY", day);
        Fixture f;
        QStringList heard;
        connect(&f.probe->filing(), &Filing::synced, this,
                [&](const QList<datafiles::SyncQueue::Unsynced> &items) {
                    for (const datafiles::SyncQueue::Unsynced &item : items)
                        heard << item.name.mid(f.path({}).size());
                });
        QVERIFY(QDir(f.today()).removeRecursively()); // made anew by the pass
        QMetaObject::invokeMethod(f.gravex.get(), "saveMessage", Q_ARG(QByteArray, example));
        QVERIFY(QDir().rename(f.path(moved), f.path("moved")));
        createFile(f.path(moved), "not a folder");
        f.save({});
        heard.sort(); // as the disk confirms them
        QCOMPARE(heard, unsynced);
        QVERIFY2(unsynced.contains(shownWarning().mid(saveFailed.size() + f.path({}).size())),
                 qPrintable(shownWarning()));
        QVERIFY(!f.blinking());
        // The transfer's file is where the moved folder went.
        const QString file = f.file("data_1.txt").mid(f.path(moved).size());
        QCOMPARE(readFile(f.path("moved") + file), englishFile({1234}));
    }
#endif

    // Root may write anywhere, so a plain file stands in for a folder that
    // cannot be written. Only one level is made: a missing parent stays missing.
    void unopenableFolderLosesOnlyItsTransfer_data()
    {
        QTest::addColumn<QString>("badFolder"); // under the home, which holds a file "plain"
        QTest::newRow("data folder is a plain file") << "plain";
        QTest::newRow("data folder's parent is gone") << "gone/data";
    }
    void unopenableFolderLosesOnlyItsTransfer()
    {
        QFETCH(QString, badFolder);
        Fixture f;
        createFile(f.path("plain"), "not a folder");
        f.probe->setFilePath(QDir::toNativeSeparators(f.path(badFolder)));
        f.save({packet1of3, packet2of3});
        f.save({packet3of3});
        QVERIFY(!f.blinking());
        QVERIFY(shownWarning().startsWith(saveFailed));
        QVERIFY(shownWarning().endsWith("data_1.txt"));
        QVERIFY(!QFileInfo::exists(f.path("gone")));

        // Once the folder is back, the next transfer gets a file of its own.
        f.probe->setFilePath(QDir::toNativeSeparators(f.path("data")));
        f.save({example});
        QCOMPARE(f.filesOfToday().size(), 1);
        QCOMPARE(readFile(f.file(f.filesOfToday().value(0))), englishFile({1234}));
        QVERIFY(f.blinking());
    }

#ifdef Q_OS_LINUX
    // A full disk, made by a file size limit: the file keeps the whole lines
    // that fit and never ends in a cut one, the transfer goes on in it once
    // there is room again, the user hears of each time it fills, and a file
    // whose header did not fit is taken away.
    void fullDisk()
    {
        std::signal(SIGXFSZ, SIG_IGN); // as the program does
        rlimit unlimited{}, limit{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        // Lifted again however the test ends, or the tests after it fail too.
        const auto lift = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &unlimited); });
        Fixture f;
        const auto fileLimit = [&](rlim_t bytes) {
            limit = unlimited;
            limit.rlim_cur = bytes;
            setrlimit(RLIMIT_FSIZE, &limit);
        };
        const rlim_t line = lineOf(1).size() + 2;
        fileLimit(englishHeader.size() + line + 10); // within the batch's second line
        f.save({packet1of3, packet2of3});
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1}));
        QCOMPARE(shownWarning(), saveFailed + f.file("data_1.txt"));
        closeWarnings();
        setrlimit(RLIMIT_FSIZE, &unlimited);
        f.save({packet2of3});
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1, 2}));

        fileLimit(englishHeader.size() + 2 * line + 10);
        GravexProbe::blinkTimer(f.probe->trayIcon())->stop();
        f.save({packet3of3});
        QTRY_COMPARE(shownWarning(), saveFailed + f.file("data_1.txt")); // a second after the last
        QVERIFY(!f.blinking());
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1, 2}));

        fileLimit(100);
        f.save({example});
        setrlimit(RLIMIT_FSIZE, &unlimited);
        QCOMPARE(f.filesOfToday(), QStringList{"data_1.txt"});
        QTRY_COMPARE(shownWarning(), saveFailed + f.file("data_2.txt"));
    }
#endif

    // Quitting mid-transfer leaves every line handed over so far in the file.
    void quittingKeepsEveryLine()
    {
        Fixture f({{"Debug", true}});
        QMetaObject::invokeMethod(f.gravex.get(), "saveMessage", Q_ARG(QByteArray, packet1of3));
        QMetaObject::invokeMethod(f.gravex.get(), "saveMessage", Q_ARG(QByteArray, packet2of3));
        f.gravex.reset();
        QCOMPARE(readFile(f.file("data_1.txt")), englishFile({1, 2}));
        QCOMPARE(readFile(f.file("debug_1.txt")), packet2of3);
    }

    // A file added twice in a pass is synced once, and what cannot be synced
    // is named. At most 256 handles wait for their sync: a pass that would
    // leave more first waits for the passes before it.
    void syncQueue()
    {
        QTemporaryDir dir;
        datafiles::SyncQueue queue;
        QList<QStringList> outcomes;
        const auto keep = [&outcomes](const QList<datafiles::SyncQueue::Unsynced> &unsynced) {
            QStringList names;
            for (const auto &u : unsynced)
                names << u.name;
            outcomes << names;
        };
        int made = 0;
        const auto addFiles = [&](int count) {
            for (int i = 0; i < count; ++i) {
                QFile file(dir.filePath(QString("data_%1.txt").arg(++made)));
                QVERIFY(file.open(QIODevice::WriteOnly));
                queue.addFile(file, made);
                queue.addFile(file, made);
            }
        };
        addFiles(1);
        queue.addFolder(dir.path());
#ifndef Q_OS_WIN // where folders are not synced
        queue.addFolder(dir.filePath("gone"));
#endif
        queue.sync(keep);
        QCOMPARE(outcomes.size(), 0); // heard in this thread's event loop
        QTRY_COMPARE(outcomes.size(), 1);
#ifndef Q_OS_WIN
        QCOMPARE(outcomes[0], QStringList{dir.filePath("gone")});
#endif
        addFiles(1);
        queue.sync(keep);
        addFiles(255);
        queue.sync(keep); // 256 waiting
        QCOMPARE(outcomes.size(), 1);
        addFiles(1);
        queue.sync(keep); // 257: the two passes before are done and heard first
        QCOMPARE(outcomes.size(), 3);
        QTRY_COMPARE(outcomes.size(), 4);
        QCOMPARE(outcomes.mid(1), QList<QStringList>(3));
    }

    // The passes' outcomes are heard in the order the passes started,
    // whichever the disk finishes first: a transfer written over two passes
    // is counted once. And a file is known by its generation, not its name:
    // one made anew under the name of a deleted one is synced too.
    void syncQueueOrderAndIdentity()
    {
        QTemporaryDir dir;
        QSemaphore firstMayEnd;
        QMutex mutex;
        QStringList synced;
        datafiles::SyncQueue queue([&](const QString &name, qintptr handle, bool) {
            if (name.endsWith("slow"))
                firstMayEnd.acquire();
            platform::syncAndClose(handle);
            QMutexLocker locker(&mutex);
            synced << QFileInfo(name).fileName();
            return true;
        });
        const auto add = [&](const char *name, qint64 generation) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            queue.addFile(file, generation);
        };
        QList<int> heard;
        add("slow", 1);
        queue.sync([&heard](const auto &) { heard << 1; });
        // However the test ends, the slow sync ends too (one release more is harmless).
        const auto release = qScopeGuard([&firstMayEnd] { firstMayEnd.release(); });
        add("data_1.txt", 2);
        add("data_1.txt", 3); // made anew under the same name

        queue.sync([&heard](const auto &) { heard << 2; });
        const auto timesSynced = [&](const char *name) {
            QMutexLocker locker(&mutex);
            return synced.count(name);
        };
        QTRY_COMPARE(timesSynced("data_1.txt"), 2);
        QTest::qWait(100); // the second pass is done and would be heard by now
        QCOMPARE(heard, QList<int>());
        firstMayEnd.release();
        QTRY_COMPARE(heard, QList<int>({1, 2}));
    }
};

QTEST_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
