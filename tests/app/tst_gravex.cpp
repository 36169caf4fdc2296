// The application shell: what is on screen after start-up, showing and
// hiding the options window, and the confirmed quit.
#include "fixture.h"

namespace {
// Exit code of the fallback that ends the event loop when the program did not.
constexpr int stillRunning = 42;
} // namespace

class TestGravex : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsInTheTrayAndOptionsToggles()
    {
        Fixture f;
        QVERIFY(f.gravex->isHidden());
        QVERIFY(f.probe->trayIcon()->isVisible());
        QVERIFY(!f.probe->showWindowAction()->isChecked());
        for (bool shown : {true, false, true}) {
            f.probe->showWindowAction()->trigger();
            QCOMPARE(f.gravex->isVisible(), shown);
            QCOMPARE(f.probe->showWindowAction()->isChecked(), shown);
        }
    }

    // Closing is refused and only hides, through close() as through the
    // Close button.
    void closingOnlyHides()
    {
        Fixture f;
        f.probe->showWindow();
        QVERIFY(!f.gravex->close());
        QVERIFY(f.gravex->isHidden() && !f.probe->showWindowAction()->isChecked());
        f.probe->showWindow();
        f.probe->closeButton()->click();
        QVERIFY(f.gravex->isHidden() && !f.probe->showWindowAction()->isChecked());
    }

    // The box speaks the language in force when it opens, here changed after
    // start-up.
    void quitConfirmation_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("windowShown");
        QTest::addColumn<int>("answer"); // a button, or 0 for Escape
        QTest::addColumn<int>("exitCode");
        QTest::newRow("yes ends the event loop") << 0 << false << int(QMessageBox::Yes) << 0;
        QTest::newRow("yes with the window shown") << 1 << true << int(QMessageBox::Yes) << 0;
        QTest::newRow("no keeps running") << 0 << false << int(QMessageBox::No) << stillRunning;
        QTest::newRow("escape keeps running") << 1 << true << 0 << stillRunning;
    }
    void quitConfirmation()
    {
        QFETCH(int, language);
        QFETCH(bool, windowShown);
        QFETCH(int, answer);
        QFETCH(int, exitCode);
        Fixture f({{"Language", language ? "Russian" : "English"}});
        QApplication::setQuitOnLastWindowClosed(false); // as main() runs the program
        f.probe->language() = language;
        if (windowShown)
            f.probe->showWindow();
        ModalDriver driver(answer ? ModalDriver::press(QMessageBox::StandardButton(answer))
                                  : [](QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); });
        // Started only once the box has closed: if the answer quit, the loop
        // has ended before this fires.
        QTimer::singleShot(0, f.gravex.get(), [&] {
            f.probe->quitAction()->trigger();
            QTimer::singleShot(0, f.gravex.get(), [] { QCoreApplication::exit(stillRunning); });
        });
        QCOMPARE(QApplication::exec(), exitCode);
        QCOMPARE(driver.boxes, QStringList{language ? "Scalvo|Scalvanto|Do you want to close "
                                                      "program?|Warning|Yes|No"
                                                    : "Скальво|Скальванто|Вы хотите закрыть "
                                                      "программу?|Warning|Yes|No"});
    }
};

QTEST_MAIN(TestGravex)
#include "tst_gravex.moc"
