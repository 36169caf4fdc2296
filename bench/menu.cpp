#include "bench.h"

namespace benchmark {

// The X display as its server reports it, on a connection of the driver's own with
// SubstructureNotify selected on the root window: a menu is seen the moment Trelvant maps it.
struct Display
{
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    xcb_atom_t type = atom("_NET_WM_WINDOW_TYPE"), tooltip = atom("_NET_WM_WINDOW_TYPE_TOOLTIP");
    const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;

    Display()
    {
        xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &events);
        xcb_flush(x);
    }
    ~Display() { xcb_disconnect(x); }
    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, strlen(name), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        free(reply);
        return a;
    }
    // Balloons are tooltip windows.
    bool isBalloon(xcb_window_t w)
    {
        const auto cookie = xcb_get_property(x, 0, w, type, XCB_ATOM_ATOM, 0, 16);
        auto *reply = xcb_get_property_reply(x, cookie, nullptr);
        const auto *types =
            static_cast<const xcb_atom_t *>(reply ? xcb_get_property_value(reply) : 0);
        const bool found =
            types && std::count(types, types + xcb_get_property_value_length(reply) / 4, tooltip);
        free(reply);
        return found;
    }
    // The next window other than a balloon mapped within `ms`, or with `gone` that window
    // unmapped; 0 if none.
    xcb_window_t next(int ms, xcb_window_t gone = 0)
    {
        QElapsedTimer t;
        for (t.start(); t.elapsed() < ms;) {
            pollfd p{xcb_get_file_descriptor(x), POLLIN, 0};
            poll(&p, 1, int(ms - t.elapsed()));
            while (xcb_generic_event_t *e = xcb_poll_for_event(x)) {
                const int kind = e->response_type & 0x7F;
                const xcb_window_t w =
                    reinterpret_cast<xcb_map_notify_event_t *>(e)->window; // as unmap's
                free(e);
                if (gone ? kind == XCB_UNMAP_NOTIFY && w == gone
                         : kind == XCB_MAP_NOTIFY && !isBalloon(w))
                    return w;
            }
        }
        return 0;
    }
    // Milliseconds from the right click on the icon (xdotool, whose start is counted) until its
    // menu is mapped, or -1; the menu is closed again.
    double openMenu(QPoint icon)
    {
        QElapsedTimer t;
        t.start();
        // Qt opens the menu on the press; "click" would add xdotool's own 100 ms after it.
        run("xdotool", {"mousemove", str(icon.x()), str(icon.y()), "mousedown", "3"});
        const xcb_window_t menu = next(10000);
        const double ms = t.nsecsElapsed() / 1e6;
        run("xdotool", {"mouseup", "3"});
        for (int i = 0; menu && i < 20; ++i) {
            run("xdotool", {"key", "Escape"});
            if (next(500, menu))
                break;
        }
        return menu ? ms : -1;
    }
    QByteArray pixels(QRect r)
    {
        const auto cookie = xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, root, r.x(), r.y(),
                                          r.width(), r.height(), ~0u);
        auto *image = xcb_get_image_reply(x, cookie, nullptr);
        const QByteArray bytes(image ? (const char *)xcb_get_image_data(image) : nullptr,
                               image ? xcb_get_image_data_length(image) : 0);
        free(image);
        return bytes;
    }
};

void menu()
{
    Subject r{{"", balloons}};
    QList<double> ms, idle;
    int missed = 0, floods = 0, blinks = 0;
    if (r.start()) {
        QThread::sleep(1);
        // A balloon covers the lower half of the icon: it is clicked and looked at above that.
        const auto m =
            QRegularExpression("\"trayer\"\\)\\s+(\\d+)x(\\d+)\\S*\\s+\\+(-?\\d+)\\+(-?\\d+)")
                .match(run("xwininfo", {"-root", "-tree"}));
        const QRect top(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                        m.captured(2).toInt() * 2 / 5);
        Display display;
        for (int i = 0; i < 5; ++i) // without traffic: what the measuring itself takes
            idle << display.openMenu(top.center());
        QProcess flood;
        const auto keepFlooding = [&] {
            if (flood.state() == QProcess::NotRunning) {
                flood.start(sim(), simArgs(r.sandbox.port(), 100, 400000, 0));
                floods += flood.waitForStarted();
            }
        };
        keepFlooding();
        QThread::msleep(300);
        QByteArray last;
        for (int i = 0; i < 40; ++i, QThread::msleep(100)) {
            keepFlooding();
            const QByteArray now = display.pixels(top);
            blinks += !last.isNull() && now != last;
            last = now;
        }
        QElapsedTimer total;
        for (total.start(); ms.size() < (bench.quick ? 8 : 25) && total.elapsed() < 120000;
             QThread::msleep(200)) {
            keepFlooding();
            const double opened = display.openMenu(top.center());
            missed += opened < 0;
            if (opened >= 0)
                ms << opened;
        }
        flood.kill();
        flood.waitForFinished();
    }
    const QString max = num(ms.isEmpty() ? -1 : *std::max_element(ms.begin(), ms.end()));
    const QString line = row(num(median(idle)), str(ms.size()), str(missed), num(median(ms)), max,
                             str(blinks), str(floods));
    section("menu", {"median", num(median(ms)), "max", max, "met",
                     yes(!ms.isEmpty() && median(ms) < 100), "blinks", str(blinks), "row", line});
}

} // namespace benchmark
