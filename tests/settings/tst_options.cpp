// The options: as loaded at start-up, the options window as the user reads
// and tabs through it, Select..., and Apply: stored values, the one-time
// language notice, the folder field's rules and the start at login entry.
#include "datagrams.h"
#include "fixture.h"
#include "settings/autostart.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QScopeGuard>

class TestOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noStoredOptionsGiveDefaults()
    {
        const auto storeIsEmpty = [] {
            return std::unique_ptr<QSettings>(options::openStore())->allKeys().isEmpty();
        };
        auto f = std::make_unique<Fixture>(Options(), false);
        const QString weightData = QDir::toNativeSeparators(QDir::homePath() + "/WeightData");
        QCOMPARE(f->probe->filePath(), weightData);
        QVERIFY(QFileInfo(weightData).isDir());
        QCOMPARE(f->find<QLineEdit>("port")->text(), QString("5001"));
        QCOMPARE(f->find<QComboBox>("language")->currentText(), QString("Русский"));
        QVERIFY(storeIsEmpty()); // loading writes nothing back
        f = std::make_unique<Fixture>(Options{{"FilePath", ""}});
        QCOMPARE(f->probe->filePath(), QDir::toNativeSeparators(QDir::homePath() + "/WeightData"));
#ifdef Q_OS_WIN
        QDir(weightData).removeRecursively(); // in the real profile
#endif
    }

    // The window as the user reads it, top to bottom and left to right.
    void readingOrder_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("texts");
        // Only the exact word Russian is Russian; the port keeps its low 16
        // bits and shows unsigned.
        QTest::newRow("english")
            << "english"
            << "70000"
            << "Scalvanto|Language:|English|Folder of recived messages:|~|"
               "Select...|UDP port:|4464|[x] Save debug messages|[ ] Notify on "
               "loading of the new data from scales|[ ] Auto start on login|Apply|Close";
        QTest::newRow("russian")
            << "Russian"
            << "65535"
            << "Скальванто|Язык:|Русский|Каталог полученных сообщений:|~|Обзор...|"
               "UDP порт:|65535|[x] Сохранять отладочные сообщения|[ ] Уведомлять о "
               "загрузке новых данных с весов|[ ] Запускать при входе в систему|"
               "Применить|Закрыть";
    }
    void readingOrder()
    {
        QFETCH(QString, language);
        QFETCH(QString, port);
        QFETCH(QString, texts);
        Fixture f({{"Language", language},
                   {"UdpPort", port},
                   {"Debug", true},
                   {"ShowTrayMessage", false},
                   {"AutoLoad", false}});
        f.gravex->show();
        QList<QWidget *> widgets =
            f.gravex->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly);
        std::sort(widgets.begin(), widgets.end(), [](QWidget *a, QWidget *b) {
            const QPoint pa = a->geometry().center(), pb = b->geometry().center();
            return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
        });
        QStringList seen{f.gravex->windowTitle()};
        for (QWidget *w : widgets) {
            for (QWidget *other : widgets) // each in a place of its own
                QVERIFY(other == w || !other->geometry().intersects(w->geometry()));
            // Everything but the buttons starts at the window's left edge.
            QVERIFY(qobject_cast<QPushButton *>(w) || w->x() == widgets.first()->x());
            if (auto *label = qobject_cast<QLabel *>(w))
                seen << label->text();
            else if (auto *check = qobject_cast<QCheckBox *>(w))
                seen << (check->isChecked() ? "[x] " : "[ ] ") + check->text();
            else if (auto *button = qobject_cast<QPushButton *>(w))
                seen << button->text();
            else if (auto *box = qobject_cast<QComboBox *>(w))
                seen << box->currentText();
            else if (auto *edit = qobject_cast<QLineEdit *>(w))
                seen << (edit == f.find<QLineEdit>("folder") ? "~" : edit->text());
        }
        QCOMPARE(seen.join('|'), texts);
        QCOMPARE(f.find<QLineEdit>("folder")->text(), QDir::toNativeSeparators(f.path("data")));
    }

    // The chosen folder becomes the data folder at once; a cancelled dialog
    // changes nothing.
    void selectFolder_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("folder chosen") << true;
        QTest::newRow("dialog cancelled") << false;
    }
    void selectFolder()
    {
        QFETCH(bool, accept);
        Fixture f;
        const QString chosen = f.path("chosen"), data = QDir::toNativeSeparators(f.path("data"));
        QVERIFY(QDir().mkpath(chosen));
        f.find<QLineEdit>("folder")->setText("typed, not applied");
        QStringList seen; // the dialog's title and the folder it starts in
        ModalDriver driver([&](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            seen << dialog->windowTitle()
                 << QDir::toNativeSeparators(dialog->directory().absolutePath());
            dialog->setDirectory(chosen);
            // QFileDialog keeps accept() protected; QDialog's is public.
            accept ? static_cast<QDialog *>(dialog)->accept() : dialog->reject();
        });
        f.find<QPushButton>("select")->click();
        QCOMPARE(seen, QStringList({"Folder of recived messages:", data}));
        QCOMPARE(f.probe->filePath(), accept ? QDir::toNativeSeparators(chosen) : data);
        QCOMPARE(f.find<QLineEdit>("folder")->text(),
                 accept ? QDir::toNativeSeparators(chosen) : "typed, not applied");
        // The chosen folder takes the next transfer at once, before any Apply.
        f.send({example});
        const QString day = QDate::currentDate().toString("dd.MM.yyyy");
        QTRY_COMPARE(QDir(accept ? chosen + '/' + day : f.today()).entryList(QDir::Files),
                     QStringList{"data_1.txt"});
    }

    void languageNotice_data()
    {
        QTest::addColumn<QString>("startLanguage");
        QTest::addColumn<QList<int>>("choices"); // language box index at each Apply
        QTest::addColumn<QStringList>("notices");
        const QString english =
            "Scalvanto|Interface language is changed.\nProgram restart is necessary!|";
        const QString russian =
            "Скальванто|Изменен язык интерфейса.\nНеобходим перезапуск программы!|";
        QTest::newRow("russian kept") << "Russian" << QList<int>{0, 0} << QStringList();
        QTest::newRow("english kept") << "English" << QList<int>{1} << QStringList();
        QTest::newRow("to english") << "Russian" << QList<int>{1} << QStringList{english};
        QTest::newRow("to english once, then back")
            << "Russian" << QList<int>{1, 1, 0} << QStringList{english, russian};
    }
    void languageNotice()
    {
        QFETCH(QString, startLanguage);
        QFETCH(QList<int>, choices);
        QFETCH(QStringList, notices);
        Fixture f({{"Language", startLanguage}});
        ModalDriver driver(ModalDriver::press(QMessageBox::Ok));
        for (int choice : choices) {
            f.find<QComboBox>("language")->setCurrentIndex(choice);
            f.apply();
        }
        QCOMPARE(driver.boxes, notices);
        QCOMPARE(Fixture::stored("Language").toString(), choices.last() ? "English" : "Russian");
    }

    void storedValues()
    {
        Fixture f;
        ModalDriver driver;   // answers the language notice
        quint16 port = 20000; // below the ephemeral ports; the field takes five digits
        while (!QUdpSocket().bind(QHostAddress::Any, port))
            ++port;
        f.find<QLineEdit>("port")->setText(QString::number(65536 + port)); // keeps its low 16 bits
        f.find<QCheckBox>("autoStart")->setChecked(false);
        f.find<QCheckBox>("notify")->setChecked(false);
        f.find<QCheckBox>("debug")->setChecked(true);
        f.find<QComboBox>("language")->setCurrentIndex(0);
        f.apply();
        QCOMPARE(Fixture::stored("UdpPort").toInt(), port);
        QCOMPARE(Fixture::stored("AutoLoad").toBool(), false);
        QCOMPARE(Fixture::stored("ShowTrayMessage").toBool(), false);
        QCOMPARE(Fixture::stored("Debug").toBool(), true);
        QCOMPARE(Fixture::stored("FilePath").toString(), QDir::toNativeSeparators(f.path("data")));
        QCOMPARE(f.port(), port);
        // An emptied field is stored as 0, and port 0 is never opened.
        f.find<QLineEdit>("port")->setText("");
        f.apply();
        QCOMPARE(Fixture::stored("UdpPort").toInt(), 0);
        QVERIFY(!f.probe->portOpen());
        QCOMPARE(shownWarning(),
                 QString("Не удалось открыть UDP порт 0:\nнедопустимый номер порта"));
        // What is typed into it: digits only, five at most.
        auto *portField = f.find<QLineEdit>("port");
        portField->clear();
        QTest::keyClicks(portField, "6a5x01234");
        QCOMPARE(portField->text(), QString("65012"));
    }

    // "~/" stands for the home, which holds "existing"; the field is kept,
    // taken as the data folder, or reverted.
    void folderField_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("other existing folder") << "~/existing"
                                               << "kept";
        QTest::newRow("missing folder, existing parent") << "~/new"
                                                         << "taken";
        QTest::newRow("missing parent") << "~/missing/new"
                                        << "reverted";
        QTest::newRow("relative missing folder refused") << "new"
                                                         << "reverted";
    }
    void folderField()
    {
        QFETCH(QString, typed);
        QFETCH(QString, outcome);
        Fixture f;
        QVERIFY(QDir().mkpath(f.path("existing")));
        // A relative name would be taken from the working folder: keep it in the home.
        const QString workingFolder = QDir::currentPath();
        const auto restore = qScopeGuard([&] { QDir::setCurrent(workingFolder); });
        QVERIFY(QDir::setCurrent(f.path("existing")));
        const QString field =
            typed.startsWith("~/") ? QDir::toNativeSeparators(f.path(typed.mid(2))) : typed;
        const QString data = QDir::toNativeSeparators(f.path("data"));
        f.find<QLineEdit>("folder")->setText(field);
        f.apply();
        QCOMPARE(f.probe->filePath(), outcome == "taken" ? field : data);
        QCOMPARE(Fixture::stored("FilePath").toString(), outcome == "taken" ? field : data);
        QCOMPARE(f.find<QLineEdit>("folder")->text(), outcome == "reverted" ? data : field);
        QCOMPARE(QFileInfo(field).isDir(), outcome != "reverted");
    }

    void execArgument_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec"); // as it stands in the file
        // Inside quotes $ " ` \ take a backslash, which the string escaping of
        // the value then doubles.
        QTest::newRow("plain path unquoted") << "/opt/s/Trelvant"
                                             << "/opt/s/Trelvant";
        QTest::newRow("blank") << "/opt/a b/T"
                               << "\"/opt/a b/T\"";
        QTest::newRow("dollar") << "/opt/a$b/T"
                                << "\"/opt/a\\\\$b/T\"";
        QTest::newRow("backslash") << "/opt/a\\b/T"
                                   << "\"/opt/a\\\\\\\\b/T\"";
        QTest::newRow("percent doubled") << "/opt/100%/T"
                                         << "/opt/100%%/T";
        QTest::newRow("line break as escape") << "/opt/a\nb/T"
                                              << "\"/opt/a\\nb/T\"";
    }
    void execArgument()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execArgument(program), exec);
    }

    // Written by Apply only, although the switch is on from the start; the
    // program's path is quoted where a blank would split it.
    void autostartFollowsSwitch()
    {
        Fixture f;
#ifdef Q_OS_WIN
        QSettings run("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                      QSettings::NativeFormat);
        const auto entry = [&] { return run.value("Ponderix").toString(); };
        const QString expected = '"' +
                                 QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) +
                                 "\\Trelvant.exe\"";
#else
        const QString path = f.path(".config/autostart/Ponderix.desktop");
        const auto entry = [&] {
            const QStringList lines = QString::fromUtf8(readFile(path)).split('\n').filter("Exec=");
            return lines.value(0);
        };
        // The rows of execArgument show the quoting; this path needs none.
        const QString expected = "Exec=" + QCoreApplication::applicationFilePath();
        if (expected.contains(QRegularExpression("[\\s\"'\\\\><~|&;$*?#()`%]")))
            QSKIP("the test runs from a folder whose name needs quoting");
#endif
        QVERIFY(f.find<QCheckBox>("autoStart")->isChecked() && entry().isEmpty());
        f.apply();
        QCOMPARE(entry(), expected);
        f.find<QCheckBox>("autoStart")->setChecked(false);
        for (int round = 0; round < 2; ++round) { // removing it again is harmless
            f.apply();
            QCOMPARE(entry(), QString());
        }
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
