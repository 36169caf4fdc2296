// The options: as loaded at start-up, the options window built from them
// (grid, texts in each language, values, Tab order, Select...), and Apply:
// stored values, the one-time language notice, the folder field's rules and
// the start at login entry.
#include "fixture.h"
#include "settings/autostart.h"

#include <QFileDialog>
#include <QRegularExpression>
#include <QScopeGuard>

namespace {

// The options file as the program left it on disk.
QStringList storedLines(Fixture &f)
{
    f.probe->settings()->sync();
    return QString::fromUtf8(readFile(f.confPath())).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noOptionsFileGivesDefaults()
    {
        auto f = std::make_unique<Fixture>(Conf(), false);
        GravexProbe &p = *f->probe;
        QCOMPARE(p.filePath(), QDir::toNativeSeparators(f->path("WeightData")));
        QVERIFY(QFileInfo(f->file({}).replace("/data/", "/WeightData/")).isDir());
        QCOMPARE(QList<int>({p.udpPort(), p.language(), p.showTrayMessageCheck()->isChecked(),
                             p.autoLoadCheck()->isChecked(), p.debugCheck()->isChecked()}),
                 QList<int>({5001, 0, true, true, false}));
        const QString conf = f->confPath();
        f->gravex.reset();
        QVERIFY(!QFileInfo::exists(conf)); // loading writes nothing back

        f = std::make_unique<Fixture>(Conf{{"FilePath", ""}});
        QCOMPARE(f->probe->filePath(), QDir::toNativeSeparators(f->path("WeightData")));
    }

    // Only the exact word Russian is Russian; the port keeps its low 16 bits
    // and shows unsigned.
    void loadedLanguageAndPort_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("loadedLanguage");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("loadedPort");
        QTest::newRow("Russian, 65535") << "Russian" << 0 << "65535" << 65535;
        QTest::newRow("english, 40000") << "english" << 1 << "40000" << 40000;
        QTest::newRow("RUSSIAN, 70000") << "RUSSIAN" << 1 << "70000" << 4464;
        QTest::newRow("empty, 0") << "" << 1 << "0" << 0;
    }
    void loadedLanguageAndPort()
    {
        QFETCH(QString, language);
        QFETCH(int, loadedLanguage);
        QFETCH(QString, port);
        QFETCH(int, loadedPort);
        Fixture f({{"Language", language}, {"UdpPort", port}});
        GravexProbe &p = *f.probe;
        QCOMPARE(QList<int>({p.language(), p.loadedLanguage(), p.languageBox()->currentIndex(),
                             p.udpPort()}),
                 QList<int>({loadedLanguage, loadedLanguage, loadedLanguage, loadedPort}));
        QCOMPARE(p.portEdit()->text(), QString::number(loadedPort));
    }

    void grid()
    {
        Fixture f;
        GravexProbe &p = *f.probe;
        QGridLayout *grid = p.gridLayout();
        QCOMPARE(f.gravex->layout(), grid);
        QCOMPARE(grid->count(), 12);
        QStringList cells; // row, column, row span, column span
        for (QWidget *w : std::initializer_list<QWidget *>{
                 p.languageLabel(), p.languageBox(), p.folderLabel(), p.folderEdit(),
                 p.selectButton(), p.portLabel(), p.portEdit(), p.debugCheck(),
                 p.showTrayMessageCheck(), p.autoLoadCheck(), p.applyButton(), p.closeButton()}) {
            int row = -1, column = -1, rowSpan = -1, columnSpan = -1;
            grid->getItemPosition(grid->indexOf(w), &row, &column, &rowSpan, &columnSpan);
            cells
                << QStringLiteral("%1 %2 %3 %4").arg(row).arg(column).arg(rowSpan).arg(columnSpan);
        }
        QCOMPARE(cells,
                 QStringList({"1 1 1 4", "2 1 1 4", "3 1 1 4", "4 1 1 3", "4 4 1 1", "5 1 1 4",
                              "6 1 1 2", "7 1 1 4", "8 1 1 4", "9 1 1 4", "10 3 1 1", "10 4 1 1"}));
    }

    void textsAndValues_data()
    {
        QTest::addColumn<Conf>("conf");
        QTest::addColumn<QString>("texts");       // labels, switches, buttons, title, languages
        QTest::addColumn<QList<bool>>("checked"); // balloon, autostart, debug
        QTest::newRow("english, switches inverted")
            << Conf{{"ShowTrayMessage", "false"}, {"AutoLoad", "false"}, {"Debug", "true"}}
            << "Language:|Folder of recived messages:|UDP port:|Notify on loading of the new data "
               "from scales|Auto start on login|Save debug messages|Apply|Close|Select...|"
               "Scalvanto|Русский|English"
            << QList<bool>{false, false, true};
        QTest::newRow("russian, default switches")
            << Conf{{"Language", "Russian"}}
            << "Язык:|Каталог полученных сообщений:|UDP порт:|Уведомлять о загрузке новых данных "
               "с весов|Запускать при входе в систему|Сохранять отладочные сообщения|Применить|"
               "Закрыть|Обзор...|Скальванто|Русский|English"
            << QList<bool>{true, true, false};
    }
    void textsAndValues()
    {
        QFETCH(Conf, conf);
        QFETCH(QString, texts);
        QFETCH(QList<bool>, checked);
        Fixture f(conf);
        GravexProbe &p = *f.probe;
        QCOMPARE(
            QStringList({p.languageLabel()->text(), p.folderLabel()->text(), p.portLabel()->text(),
                         p.showTrayMessageCheck()->text(), p.autoLoadCheck()->text(),
                         p.debugCheck()->text(), p.applyButton()->text(), p.closeButton()->text(),
                         p.selectButton()->text(), f.gravex->windowTitle(),
                         p.languageBox()->itemText(0), p.languageBox()->itemText(1)})
                .join('|'),
            texts);
        QCOMPARE(p.languageBox()->count(), 2);
        QCOMPARE(QList<bool>({p.showTrayMessageCheck()->isChecked(), p.autoLoadCheck()->isChecked(),
                              p.debugCheck()->isChecked()}),
                 checked);
        QCOMPARE(p.folderEdit()->text(), f.path("data"));
    }

    void tabFollowsCreationOrder()
    {
        Fixture f;
        GravexProbe &p = *f.probe;
        p.showWindow();
        QApplication::setActiveWindow(f.gravex.get());
        QVERIFY(QTest::qWaitForWindowActive(f.gravex.get()));
        p.languageBox()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), p.languageBox());
        const QList<QWidget *> expected{
            p.folderEdit(),    p.portEdit(),     p.applyButton(),
            p.closeButton(),   p.selectButton(), p.showTrayMessageCheck(),
            p.autoLoadCheck(), p.debugCheck(),   p.languageBox()};
        QList<QWidget *> visited;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        QCOMPARE(visited, expected);
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
        const QString chosen = f.path("chosen");
        QVERIFY(QDir().mkpath(chosen));
        f.probe->folderEdit()->setText("typed, not applied");
        QStringList seen; // the dialog's title and the folder it starts in
        ModalDriver driver([&](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            seen << dialog->windowTitle() << dialog->directory().absolutePath();
            dialog->setDirectory(chosen);
            // QFileDialog keeps accept() protected; QDialog's is public.
            accept ? static_cast<QDialog *>(dialog)->accept() : dialog->reject();
        });
        f.probe->selectButton()->click();
        QCOMPARE(seen, QStringList({"Folder of recived messages:", f.path("data")}));
        QCOMPARE(f.probe->filePath(), accept ? chosen : f.path("data"));
        QCOMPARE(f.probe->folderEdit()->text(), accept ? chosen : "typed, not applied");
    }

    void languageNotice_data()
    {
        QTest::addColumn<QString>("startLanguage");
        QTest::addColumn<QList<int>>("choices"); // language box index at each Apply
        QTest::addColumn<QStringList>("notices");
        const QString english =
            "Scalvanto|Interface language is changed.\nProgram restart is necessary!||Warning|Ok";
        const QString russian =
            "Скальванто|Изменен язык интерфейса.\nНеобходим перезапуск программы!||Warning|Ok";
        QTest::newRow("russian kept") << "Russian" << QList<int>{0, 0} << QStringList();
        QTest::newRow("to english once, then back")
            << "Russian" << QList<int>{1, 1, 0} << QStringList{english, russian};
        QTest::newRow("english to russian")
            << "English" << QList<int>{0, 0} << QStringList{russian};
    }
    void languageNotice()
    {
        QFETCH(QString, startLanguage);
        QFETCH(QList<int>, choices);
        QFETCH(QStringList, notices);
        Fixture f({{"Language", startLanguage}});
        const QString applyText = f.probe->applyButton()->text();
        ModalDriver driver(ModalDriver::press(QMessageBox::Ok));
        for (int choice : choices) {
            f.probe->languageBox()->setCurrentIndex(choice);
            f.probe->applyButton()->click();
            QCOMPARE(f.probe->language(), choice);
        }
        QCOMPARE(driver.boxes, notices);
        // The window keeps the language it was built in until the next start.
        QCOMPARE(f.probe->applyButton()->text(), applyText);
    }

    void storedValues()
    {
        Fixture f;
        GravexProbe &p = *f.probe;
        ModalDriver driver; // answers the language notice
        p.portEdit()->setText("70000");
        p.showTrayMessageCheck()->setChecked(false);
        p.autoLoadCheck()->setChecked(false);
        p.debugCheck()->setChecked(true);
        p.languageBox()->setCurrentIndex(0);
        p.applyOptions();
        QCOMPARE(storedLines(f), QStringList({"[General]", "AutoLoad=false", "Debug=true",
                                              "FilePath=" + f.path("data"), "Language=Russian",
                                              "ShowTrayMessage=false", "UdpPort=4464"}));
        QCOMPARE(p.udpSocket()->localPort(), quint16(4464));

        p.portEdit()->setText(""); // any free port
        p.applyOptions();
        QCOMPARE(p.udpPort(), quint16(0));
        QVERIFY(storedLines(f).contains("UdpPort=0"));
        QCOMPARE(p.udpSocket()->state(), QAbstractSocket::BoundState);
    }

    // "~/" stands for the home, which holds "existing"; the field is kept,
    // taken as the data folder, or reverted.
    void folderField_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("outcome");
        const char *rows[][3] = {{"other existing folder", "~/existing", "kept"},
                                 {"missing folder, existing parent", "~/new", "taken"},
                                 {"missing parent", "~/missing/new", "reverted"},
                                 {"relative missing folder refused", "new", "reverted"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]);
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
        const QString field = typed.startsWith("~/") ? f.path(typed.mid(2)) : typed;
        f.probe->folderEdit()->setText(field);
        f.probe->applyOptions();

        const QString dataFolder = outcome == "taken" ? field : f.path("data");
        QCOMPARE(f.probe->filePath(), dataFolder);
        QCOMPARE(f.probe->folderEdit()->text(), outcome == "reverted" ? f.path("data") : field);
        QVERIFY(storedLines(f).contains("FilePath=" + dataFolder));
        QCOMPARE(QFileInfo(field).isDir(), outcome != "reverted");
    }

    void execArgument_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec"); // as it stands in the file
        // Inside quotes $ " ` \ take a backslash, which the string escaping of
        // the value then doubles.
        const char *rows[][3] = {
            {"plain path unquoted", "/opt/s/Trelvant", "/opt/s/Trelvant"},
            {"blank quotes the whole path", "/opt/a b/T", "\"/opt/a b/T\""},
            {"single quote", "/opt/o'b/T", "\"/opt/o'b/T\""},
            {"tilde", "/opt/~x/T", "\"/opt/~x/T\""},
            {"dollar", "/opt/a$b/T", "\"/opt/a\\\\$b/T\""},
            {"double quote", "/opt/a\"b/T", "\"/opt/a\\\\\"b/T\""},
            {"backtick", "/opt/a`b/T", "\"/opt/a\\\\`b/T\""},
            {"backslash", "/opt/a\\b/T", "\"/opt/a\\\\\\\\b/T\""},
            {"percent doubled, not quoted", "/opt/100%/T", "/opt/100%%/T"},
            {"percent inside quotes", "/opt/1% s/T", "\"/opt/1%% s/T\""},
            {"line break as escape", "/opt/a\nb/T", "\"/opt/a\\nb/T\""},
        };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]);
    }
    void execArgument()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execArgument(program), exec);
    }

    // Written by Apply only, although the switch is on from the start.
    void autostartFollowsSwitch()
    {
        Fixture f;
        const QString entry = f.path(".config/autostart/Ponderix.desktop");
        QVERIFY(f.probe->autoLoadCheck()->isChecked() && !QFileInfo::exists(entry));
        f.probe->applyOptions();
        const QStringList lines = QString::fromUtf8(readFile(entry)).split('\n');
        QCOMPARE(lines.value(0), "[Desktop Entry]");
        QVERIFY(lines.contains("Type=Application") && lines.contains("Name=Scalvanto"));
        const QString program = QCoreApplication::applicationFilePath();
        QCOMPARE(lines.filter(QRegularExpression("^Exec")),
                 QStringList{"Exec=" + AutostartEntry::execArgument(program)});

        f.probe->autoLoadCheck()->setChecked(false);
        for (int round = 0; round < 2; ++round) { // removing it again is harmless
            f.probe->applyOptions();
            QVERIFY(!QFileInfo::exists(entry));
        }
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
