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
QPixmap trayMenu(GravexProbe &p, const QRect &icon)
{
    QMenu *menu = p.trayMenu();
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
// looks the same too. Nothing is stored in it, and it goes again unless
// something else put files in it.
QString dataFolder()
{
    return QDir::tempPath() + "/WeightData";
}

void removeDataFolder()
{
    QDir data(dataFolder());
    for (const QString &day : data.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        data.rmdir(day);
    data.rmdir(data.path());
}

// The options window, the program's own widget, as "Options" shows it.
QPixmap optionsWindow(Fixture &f)
{
    f.probe->showWindow();
    waitShown(f.gravex.get(), "the options window");
    const QPixmap shot = f.gravex->grab();
    f.probe->showWindow();
    return shot;
}

void english()
{
    Fixture f({{"UdpPort", port()}, {"FilePath", dataFolder()}});
    save(optionsWindow(f), "options-en.png");
    save(grabModal([&] { QMetaObject::invokeMethod(f.gravex.get(), "aboutGravex"); }), "about.png");
    save(grabModal([&] { f.probe->quitApp(); }), "quit-confirm.png");

    Tray *tray = f.probe->trayIcon();
    const QRect icon = dockedIcon(tray);
    const QPixmap rest = screen(icon.adjusted(-8, -8, 8, 8));
    save(rest.scaled(rest.size() * 3, Qt::IgnoreAspectRatio, Qt::FastTransformation),
         "tray-rest.png");
    save(trayMenu(*f.probe, icon), "tray-menu.png");

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
}

void russian()
{
    Fixture f({{"UdpPort", port()}, {"FilePath", dataFolder()}, {"Language", "Russian"}});
    save(optionsWindow(f), "options-ru.png");
    save(trayMenu(*f.probe, dockedIcon(f.probe->trayIcon())), "tray-menu-ru.png");
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
