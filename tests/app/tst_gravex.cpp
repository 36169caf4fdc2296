// The application shell: start-up as main() runs it, a second start, what
// is on screen, showing and closing the options window, the confirmed quit,
// the tray menu with its commands, the About box and the interface texts.
#include "app/instance.h"
#include "app/startup.h"
#include "datagrams.h"
#include "fixture.h"
#include "i18n/strings.h"

#include <QDesktopServices>
#include <QMenu>
#include <QRegularExpression>
#include <QUrl>

namespace {
// Exit code of the fallback that ends the event loop when the program did not.
constexpr int stillRunning = 42;

QString entries(QMenu *menu)
{
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << (a->isSeparator() ? "--" : a->text());
    return texts.join('|');
}
} // namespace

class TestGravex : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    // Stands in for the desktop's handler of file addresses.
    void openFile(const QUrl &url) { openedUrls << url; }

private Q_SLOTS:
    // Without a tray the window is the way in; a second start finds the
    // first, which shows its window, and ends; closing the last message box
    // does not end the program.
    void startUp()
    {
        Fixture f;
        f.gravex.reset();
        QList<bool> seen;
        QTimer::singleShot(0, [&] {
            Gravex *window = nullptr;
            for (QWidget *w : QApplication::topLevelWidgets())
                window = window ? window : qobject_cast<Gravex *>(w);
            seen << window->isVisible();
            window->hide();
            seen << (runTrelvant() == 0); // a second start, which ends at once
            seen << QTest::qWaitFor([&] { return window->isVisible(); });
            window->hide();
            ModalDriver driver;
            QMetaObject::invokeMethod(window, "aboutGravex");
            QTimer::singleShot(0, [] { QCoreApplication::exit(stillRunning); });
        });
        QCOMPARE(runTrelvant(), stillRunning);
        QCOMPARE(seen, QList<bool>({true, true, true}));
        QVERIFY(RunningInstance().claim()); // the lock went with the program
    }

    void startsInTheTrayAndOptionsToggles()
    {
        Fixture f;
        QVERIFY(f.gravex->isHidden());
        QVERIFY(f.probe->trayIcon()->isVisible());
        QVERIFY(!f.find<QAction>("options")->isChecked());
        for (bool shown : {true, false, true}) {
            f.find<QAction>("options")->trigger();
            QCOMPARE(f.gravex->isVisible(), shown);
            QCOMPARE(f.find<QAction>("options")->isChecked(), shown);
        }
    }

    // The box speaks the language in force when it opens, here changed after
    // start-up. Without a tray, closing the window (its Close button) asks
    // the same question.
    void quitConfirmation_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("byClosing");
        QTest::addColumn<int>("answer"); // a button, or 0 for Escape
        QTest::addColumn<int>("exitCode");
        QTest::newRow("yes ends the event loop") << 0 << false << int(QMessageBox::Yes) << 0;
        QTest::newRow("no keeps running") << 0 << false << int(QMessageBox::No) << stillRunning;
        QTest::newRow("closing the window, yes") << 1 << true << int(QMessageBox::Yes) << 0;
        QTest::newRow("closing the window, escape") << 1 << true << 0 << stillRunning;
    }
    void quitConfirmation()
    {
        QFETCH(int, language);
        QFETCH(bool, byClosing);
        QFETCH(int, answer);
        QFETCH(int, exitCode);
        Fixture f({{"Language", language ? "Russian" : "English"}});
        f.probe->setLanguage(language);
        f.command("options");
        ModalDriver driver(answer ? ModalDriver::press(QMessageBox::StandardButton(answer))
                                  : [](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); });
        QTimer::singleShot(0, f.gravex.get(), [&] {
            byClosing ? f.find<QPushButton>("close")->click() : f.command("quit");
            QTimer::singleShot(0, f.gravex.get(), [] { QCoreApplication::exit(stillRunning); });
        });
        QCOMPARE(QApplication::exec(), exitCode);
        QVERIFY(f.gravex->isVisible()); // never hidden out of reach
        QCOMPARE(driver.boxes,
                 QStringList{language ? "Scalvo|Scalvanto|Do you want to close program?"
                                      : "Скальво|Скальванто|Вы хотите закрыть программу?"});
    }

    void menuAndCommands()
    {
        Fixture f;
        QMenu *menu = f.trayMenu();
        QCOMPARE(entries(menu), QString("Options|Status|Open data folder|--|Help|Close"));
        QMenu *help = menu->actions().value(4)->menu();
        QCOMPARE(entries(help), QString("About Qt|About|--|License|--|Help"));
        QDesktopServices::setUrlHandler("file", this, "openFile");
        help->actions().value(5)->trigger();
        help->actions().value(3)->trigger();
        menu->actions().value(2)->trigger(); // today's folder
        QVERIFY(QDir(f.today()).removeRecursively());
        menu->actions().value(2)->trigger(); // none yet: the data folder
        QDesktopServices::unsetUrlHandler("file");
        const QString folder = QCoreApplication::applicationDirPath();
        QCOMPARE(openedUrls, QList<QUrl>({QUrl::fromLocalFile(folder + "/Readme.txt"),
                                          QUrl::fromLocalFile(folder + "/License.txt"),
                                          QUrl::fromLocalFile(f.today()),
                                          QUrl::fromLocalFile(f.path("data"))}));
    }

    // The About box's rich text: bold heading and links whose bare address
    // never ends in "/", which would read as a self-closing tag.
    void aboutBox()
    {
        Fixture f({{"Language", "Russian"}});
        ModalDriver driver;
        QMetaObject::invokeMethod(f.gravex.get(), "aboutGravex");
        const QStringList box = driver.boxes.value(0).split('|');
        QCOMPARE(box.value(0), QString("Скальво"));
        QVERIFY(box.value(1).startsWith("<b>Скальванто 1.0</b><br><br>"));
        QVERIFY(QRegularExpression("<a href=[^\"'\\s>]*[^\"'\\s>/]>Масса-К</a>")
                    .match(box.value(1))
                    .hasMatch());
        QVERIFY(!box.value(1).contains(QRegularExpression("href=[\"']|<a href=[^>]*/>")));
        // The libraries named are those the program comes with, the platform
        // plugin among them, and on Windows the compiler's runtime too.
#ifdef Q_OS_WIN
        QVERIFY(
            box.value(1).contains("Qt6Widgets.dll;<br>Qt6Network.dll;<br>platforms/qwindows.dll;"));
        QVERIFY(box.value(1).contains("MinGW-w64:<br>libstdc++-6.dll;<br>libgcc_s_seh-1.dll;<br>"
                                      "libwinpthread-1.dll.<br>"));
#else
        QVERIFY(box.value(1).contains("установленные в системе:<br>libQt6Core.so.6;<br>"));
        QVERIFY(box.value(1).contains("libQt6Network.so.6;<br>platforms/libqxcb.so;<br>"
                                      "imageformats/libqjpeg.so.<br>"));
#endif
    }

    // The texts show in the windows and boxes the other tests read; what no
    // window shows is an index outside the table: an empty text.
    void entriesOutsideTheTableAreEmpty()
    {
        Fixture f({{"Language", "Russian"}});
        for (qint8 outside : {qint8(16), qint8(127), qint8(-1)})
            QCOMPARE(f.gravex->getLanguageString(outside), QString());
    }

private:
    QList<QUrl> openedUrls;
};

QTEST_MAIN(TestGravex)
#include "tst_gravex.moc"
