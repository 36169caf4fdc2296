// The options window as built at start-up: where each control sits, what
// it says in each language, the values it shows, Tab order and Select....
#include "gravexfixture.h"
#include "modaldriver.h"
#include "utf8.h"

#include <QFileDialog>
#include <QTest>

namespace {
using Conf = QMap<QString, QString>;

QWidget *control(GravexProbe &p, const QByteArray &name)
{
    const QMap<QByteArray, QWidget *> all{{"languageLabel", p.languageLabel()},
                                          {"languageBox", p.languageBox()},
                                          {"folderLabel", p.folderLabel()},
                                          {"folderEdit", p.folderEdit()},
                                          {"selectButton", p.selectButton()},
                                          {"portLabel", p.portLabel()},
                                          {"portEdit", p.portEdit()},
                                          {"debugCheck", p.debugCheck()},
                                          {"showTrayMessageCheck", p.showTrayMessageCheck()},
                                          {"autoLoadCheck", p.autoLoadCheck()},
                                          {"applyButton", p.applyButton()},
                                          {"closeButton", p.closeButton()}};
    return all.value(name);
}
} // namespace

class TestOptionsWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void grid_data();
    void grid();
    void texts_data();
    void texts();
    void portShownUnsigned_data();
    void portShownUnsigned();
    void switchesShowLoadedFlags_data();
    void switchesShowLoadedFlags();
    void tabFollowsCreationOrder();
    void selectFolder_data();
    void selectFolder();
};

void TestOptionsWindow::grid_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QList<int>>("cell"); // row, column, row span, column span

    QTest::newRow("language label") << QByteArray("languageLabel") << QList<int>{1, 1, 1, 4};
    QTest::newRow("language box") << QByteArray("languageBox") << QList<int>{2, 1, 1, 4};
    QTest::newRow("folder label") << QByteArray("folderLabel") << QList<int>{3, 1, 1, 4};
    QTest::newRow("folder field") << QByteArray("folderEdit") << QList<int>{4, 1, 1, 3};
    QTest::newRow("select button") << QByteArray("selectButton") << QList<int>{4, 4, 1, 1};
    QTest::newRow("port label") << QByteArray("portLabel") << QList<int>{5, 1, 1, 4};
    QTest::newRow("port field") << QByteArray("portEdit") << QList<int>{6, 1, 1, 2};
    QTest::newRow("debug switch") << QByteArray("debugCheck") << QList<int>{7, 1, 1, 4};
    QTest::newRow("balloon switch") << QByteArray("showTrayMessageCheck") << QList<int>{8, 1, 1, 4};
    QTest::newRow("autostart switch") << QByteArray("autoLoadCheck") << QList<int>{9, 1, 1, 4};
    QTest::newRow("apply button") << QByteArray("applyButton") << QList<int>{10, 3, 1, 1};
    QTest::newRow("close button") << QByteArray("closeButton") << QList<int>{10, 4, 1, 1};
}

void TestOptionsWindow::grid()
{
    QFETCH(QByteArray, name);
    QFETCH(QList<int>, cell);

    GravexFixture f;
    QGridLayout *grid = f.probe.gridLayout();
    QCOMPARE(f.g().layout(), grid);
    // The twelve rows place everything: row 0 and column 0 stay empty.
    QCOMPARE(grid->count(), 12);
    const int index = grid->indexOf(control(f.probe, name));
    QVERIFY(index >= 0);
    int row = -1, column = -1, rowSpan = -1, columnSpan = -1;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), cell);
    QCOMPARE(grid->itemAt(index)->alignment(), Qt::Alignment());
}

void TestOptionsWindow::texts_data()
{
    QTest::addColumn<QString>("language");
    // Labels, switches, buttons, then the window title.
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("languageIndex");

    QTest::newRow("english") << QStringLiteral("English")
                             << utf8List({"Language:", "Folder of recived messages:", "UDP port:",
                                          "Notify on loading of the new data from scales",
                                          "Auto start on login", "Save debug messages", "Apply",
                                          "Close", "Select...", "Scalvanto"})
                             << 1;
    QTest::newRow("russian") << QStringLiteral("Russian")
                             << utf8List({"Язык:", "Каталог полученных сообщений:", "UDP порт:",
                                          "Уведомлять о загрузке новых данных с весов",
                                          "Запускать при входе в систему",
                                          "Сохранять отладочные сообщения", "Применить", "Закрыть",
                                          "Обзор...", "Скальванто"})
                             << 0;
    QTest::newRow("any other word is english") << QStringLiteral("russian") << QStringList() << 1;
}

void TestOptionsWindow::texts()
{
    QFETCH(QString, language);
    QFETCH(QStringList, texts);
    QFETCH(int, languageIndex);

    GravexFixture f({{QStringLiteral("Language"), language}});
    GravexProbe &p = f.probe;
    if (!texts.isEmpty()) {
        const QStringList shown{p.languageLabel()->text(), p.folderLabel()->text(),
                                p.portLabel()->text(),     p.showTrayMessageCheck()->text(),
                                p.autoLoadCheck()->text(), p.debugCheck()->text(),
                                p.applyButton()->text(),   p.closeButton()->text(),
                                p.selectButton()->text(),  f.g().windowTitle()};
        QCOMPARE(shown, texts);
    }
    QCOMPARE(p.languageBox()->count(), 2);
    QCOMPARE(p.languageBox()->itemText(0), QString::fromUtf8("Русский"));
    QCOMPARE(p.languageBox()->itemText(1), QStringLiteral("English"));
    QVERIFY(!p.languageBox()->itemData(0).isValid());
    QCOMPARE(p.languageBox()->currentIndex(), languageIndex);
}

void TestOptionsWindow::portShownUnsigned_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("highest port") << QStringLiteral("65535") << QStringLiteral("65535");
    QTest::newRow("above signed 16 bits") << QStringLiteral("40000") << QStringLiteral("40000");
    QTest::newRow("low bits of 70000") << QStringLiteral("70000") << QStringLiteral("4464");
}

void TestOptionsWindow::portShownUnsigned()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    GravexFixture f({{QStringLiteral("UdpPort"), stored}});
    QCOMPARE(f.probe.portEdit()->text(), shown);
    // Up to five digits, nothing else.
    QVERIFY(f.probe.portEdit()->inputMask().startsWith(QStringLiteral("99999")));
}

void TestOptionsWindow::switchesShowLoadedFlags_data()
{
    QTest::addColumn<Conf>("conf");
    QTest::addColumn<QList<bool>>("checked"); // balloon, autostart, debug

    QTest::newRow("defaults") << Conf() << QList<bool>{true, true, false};
    QTest::newRow("all inverted") << Conf{{QStringLiteral("ShowTrayMessage"),
                                           QStringLiteral("false")},
                                          {QStringLiteral("AutoLoad"), QStringLiteral("false")},
                                          {QStringLiteral("Debug"), QStringLiteral("true")}}
                                  << QList<bool>{false, false, true};
}

void TestOptionsWindow::switchesShowLoadedFlags()
{
    QFETCH(Conf, conf);
    QFETCH(QList<bool>, checked);
    GravexFixture f(conf);
    QCOMPARE(QList<bool>({f.probe.showTrayMessageCheck()->isChecked(),
                          f.probe.autoLoadCheck()->isChecked(), f.probe.debugCheck()->isChecked()}),
             checked);
    QCOMPARE(f.probe.folderEdit()->text(), f.home.dataFolder());
}

void TestOptionsWindow::tabFollowsCreationOrder()
{
    GravexFixture f;
    GravexProbe &p = f.probe;
    f.probe.showWindow();
    QApplication::setActiveWindow(&f.g());
    QVERIFY(QTest::qWaitForWindowActive(&f.g()));
    p.languageBox()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), p.languageBox());

    const QList<QWidget *> expected{p.folderEdit(),    p.portEdit(),     p.applyButton(),
                                    p.closeButton(),   p.selectButton(), p.showTrayMessageCheck(),
                                    p.autoLoadCheck(), p.debugCheck(),   p.languageBox()};
    QList<QWidget *> visited;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget();
    }
    QCOMPARE(visited, expected);
}

void TestOptionsWindow::selectFolder_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("folder chosen") << true;
    QTest::newRow("dialog cancelled") << false;
}

void TestOptionsWindow::selectFolder()
{
    QFETCH(bool, accept);
    GravexFixture f({{QStringLiteral("Language"), QStringLiteral("English")}});
    const QString chosen = f.home.path(QStringLiteral("chosen"));
    QVERIFY(QDir().mkpath(chosen));
    f.probe.folderEdit()->setText(QStringLiteral("typed, not applied"));

    QString startFolder;
    ModalDriver driver([&](QWidget *w) {
        auto *dialog = qobject_cast<QFileDialog *>(w);
        if (!dialog) {
            w->close();
            return;
        }
        startFolder = dialog->directory().absolutePath();
        if (accept)
            dialog->setDirectory(chosen);
        // QFileDialog keeps accept() protected; QDialog's is public.
        QDialog *asDialog = dialog;
        accept ? asDialog->accept() : asDialog->reject();
    });
    f.probe.selectButton()->click();

    QCOMPARE(driver.titles, QStringList{QStringLiteral("Folder of recived messages:")});
    QCOMPARE(startFolder, f.home.dataFolder());
    const QString expected = accept ? chosen : f.home.dataFolder();
    QCOMPARE(f.probe.filePath(), expected);
    QCOMPARE(f.probe.folderEdit()->text(), accept ? chosen : QStringLiteral("typed, not applied"));
}

QTEST_MAIN(TestOptionsWindow)
#include "tst_optionswindow.moc"
