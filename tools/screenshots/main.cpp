// Pictures of Trelvant for the documentation, taken of the real main object
// in a throw-away home, first with the English interface, then the Russian.
// The windows the program owns are grabbed as widgets; what lives in the
// system tray (the icon, its menu, the arrival balloon) is grabbed from the
// screen around the icon, so this runs on a desktop with a tray:
//
//   tools/desktop.sh build/tools/screenshots/screenshots docs    (make gui-check)
//
// It checks nothing about the program; it fails only when it cannot make a
// picture: no tray, a window that does not show up, a file not written.
#include "fixture.h"

#include "datagrams.h"
#include "reception/frame.h"
#include "status/statuswindow.h"

#include <QMenu>
#include <QScreen>
#include <QSignalSpy>

namespace {

struct Failure
{
    QString what;
};

QDir out;

void save(const QPixmap &picture, const QString &name)
{
    if (picture.isNull() || !picture.save(out.filePath(name)))
        throw Failure{"could not make " + name};
    qInfo("%s  %dx%d", qPrintable(out.filePath(name)), picture.width(), picture.height());
}

void waitShown(QWidget *w, const char *what)
{
    if (!w || !QTest::qWaitForWindowExposed(w))
        throw Failure{QStringLiteral("%1 did not show up").arg(QLatin1String(what))};
    QTest::qWait(200); // for the X server to have drawn it too
}

// A part of the screen as it is now, cut to the screen's edges.
QPixmap screen(const QRect &area)
{
    QScreen *s = QGuiApplication::primaryScreen();
    const QRect r = area & s->geometry();
    return s->grabWindow(0, r.x(), r.y(), r.width(), r.height());
}

bool plain(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
        }
    }
    return true;
}

// Where the tray shows the icon, once it has been docked and drawn there.
QRect dockedIcon(QSystemTrayIcon *tray)
{
    const QRect all = QGuiApplication::primaryScreen()->geometry();
    const auto drawn = [&] {
        const QRect icon = tray->geometry();
        return !icon.isEmpty() && all.contains(icon) && !plain(screen(icon).toImage());
    };
    if (!QTest::qWaitFor(drawn, 10000))
        throw Failure{"the icon did not show in the system tray"};
    QTest::qWait(300); // the tray panel settles to its new width
    return tray->geometry();
}

// A box that runs its own event loop (exec()): grabbed once it is on screen,
// then closed, which answers a question box with its escape button (No).
QPixmap grabModal(const std::function<void()> &open)
{
    QPixmap shot;
    int ticks = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box || !box->windowHandle() || !box->windowHandle()->isExposed()) {
            if (++ticks < 100 || !box)
                return;
        } else if (++ticks < 3) {
            return;
        } else {
            shot = box->grab();
        }
        poll.stop();
        box->close();
    });
    poll.start(100);
    open();
    return shot;
}

// The tray menu, popped up at the icon as a right-click does, with Help open.
QPixmap trayMenu(const Fixture &f, const QRect &icon)
{
    QMenu *menu = f.trayMenu();
    menu->popup(icon.center());
    waitShown(menu, "the tray menu");
    QMenu *help = nullptr;
    for (QAction *action : menu->actions()) {
        if (QMenu::menuInAction(action)) {
            help = QMenu::menuInAction(action);
            menu->setActiveAction(action);
        }
    }
    waitShown(help, "the Help menu");
    const QPixmap shot =
        screen(icon.united(menu->geometry()).united(help->geometry()).adjusted(-8, -8, 8, 8));
    menu->hide();
    return shot;
}

// The arrival balloon Qt draws beside the icon.
QWidget *balloon()
{
    QWidget *found = nullptr;
    const auto shown = [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->inherits("QBalloonTip"))
                found = w;
        }
        return found != nullptr;
    };
    (void)QTest::qWaitFor(shown, 5000);
    waitShown(found, "the arrival balloon");
    return found;
}

// The default port when it is free, as a new user sees it; another one else.
quint16 port()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress::AnyIPv4, options::defaultUdpPort) ? options::defaultUdpPort
                                                                      : freeUdpPort();
}

// A data folder of the same name on every run, so that the options window
// looks the same too. Only the traffic for the status window is stored in
// it, and its day folders go again before each language and at the end.
QString dataFolder()
{
    return QDir::tempPath() + "/WeightData";
}

void removeDataFolder()
{
    QDir data(dataFolder());
    for (const QString &day : data.entryList({"??.??.????"}, QDir::Dirs | QDir::NoDotAndDotDot))
        QDir(data.filePath(day)).removeRecursively();
    data.rmdir(data.path());
}

// The options window, the program's own widget, as "Options" shows it.
QPixmap optionsWindow(Fixture &f)
{
    f.command("options");
    waitShown(f.gravex.get(), "the options window");
    const QPixmap shot = f.gravex->grab();
    f.command("options");
    return shot;
}

// The status window after some traffic: two scales through two senders, a
// datagram with a broken CRC and one from a sender not allowed. The times
// are set to one morning, so the picture is the same from one run to the next.
QPixmap statusWindow(Fixture &f)
{
    QByteArray scale13 = hex("F855CE 3A00 0208 0100 0100 3200") + exampleRecord;
    scale13[13 + 22] = 3; // the scale field 0 0 0 1 3
    const quint16 crc = frame::crc16(QByteArrayView(scale13).sliced(frame::bodyOffset));
    scale13 += char(crc & 0xFF);
    scale13 += char(crc >> 8);
    f.send({example, packet1of3, packet2of3, packet3of3});
    f.sendFrom(QHostAddress("127.0.0.2"), {scale13, wrongCrc});
    f.sendFrom(QHostAddress("127.0.0.3"), {example});
    if (!QTest::qWaitFor([&] { return f.gravex->statusSnapshot().reception.received == 7; }, 5000))
        throw Failure{"the traffic for the status window did not arrive"};
    f.command("status");
    StatusWindow *window = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        window = w->objectName() == "status" ? qobject_cast<StatusWindow *>(w) : window;
    waitShown(window, "the status window");
    status::Snapshot s = f.gravex->statusSnapshot();
    const QDateTime morning(QDate::currentDate(), QTime(9, 41, 7));
    for (auto &row : s.scales)
        row.lastRecord = morning;
    for (auto &row : s.senders)
        row.lastSeen = morning;
    for (auto &event : s.events)
        event.time = morning;
    window->display(s);
    QTest::qWait(200);
    const QPixmap shot = window->grab();
    window->close();
    return shot;
}

void english()
{
    removeDataFolder();
    Fixture f({{"UdpPort", port()},
               {"FilePath", dataFolder()},
               {"AllowedSenders", "127.0.0.1 127.0.0.2"}});
    save(optionsWindow(f), "options-en.png");
    save(grabModal([&] { QMetaObject::invokeMethod(f.gravex.get(), "aboutGravex"); }), "about.png");
    save(grabModal([&] { f.command("quit"); }), "quit-confirm.png");

    Tray *tray = f.probe->trayIcon();
    const QRect icon = dockedIcon(tray);
    const QPixmap rest = screen(icon.adjusted(-8, -8, 8, 8));
    save(rest.scaled(rest.size() * 3, Qt::IgnoreAspectRatio, Qt::FastTransformation),
         "tray-rest.png");
    save(trayMenu(f, icon), "tray-menu.png");

    // New results: the balloon, and the icon's first blink into the alert
    // image, held there for the picture. A fixed time keeps the picture the
    // same from one run to the next.
    QTimer *blink = GravexProbe::blinkTimer(tray);
    QSignalSpy ticked(blink, &QTimer::timeout);
    tray->announce(QDateTime(QDate(2026, 12, 6), QTime(14, 3, 9)));
    if (!ticked.wait(5000))
        throw Failure{"the icon did not blink"};
    blink->stop();
    QWidget *tip = balloon();
    save(screen(icon.united(tip->geometry()).adjusted(-8, -8, 8, 8)), "tray-alert.png");
    tip->hide();
    // Last: its traffic leaves the icon blinking.
    save(statusWindow(f), "status-en.png");
}

void russian()
{
    removeDataFolder();
    Fixture f({{"UdpPort", port()},
               {"FilePath", dataFolder()},
               {"Language", "Russian"},
               {"AllowedSenders", "127.0.0.1 127.0.0.2"}});
    save(optionsWindow(f), "options-ru.png");
    save(trayMenu(f, dockedIcon(f.probe->trayIcon())), "tray-menu-ru.png");
    save(statusWindow(f), "status-ru.png");
}

} // namespace

int main(int argc, char **argv)
{
    // The tray of the desktop, not one reached over D-Bus.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc != 2) {
        qCritical("usage: tools/desktop.sh %s FOLDER", argv[0]);
        return 2;
    }
    out.setPath(QString::fromLocal8Bit(argv[1]));
    try {
        if (!out.mkpath(QStringLiteral(".")))
            throw Failure{"cannot create " + out.path()};
        // The tray's window may be up a moment before it takes the tray's role.
        if (!QTest::qWaitFor(QSystemTrayIcon::isSystemTrayAvailable, 10000))
            throw Failure{"no system tray on this display"};
        english();
        russian();
        removeDataFolder();
    } catch (const Failure &failure) {
        qCritical("screenshots: %s", qPrintable(failure.what));
        return 1;
    }
    return 0;
}
