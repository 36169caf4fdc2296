#pragma once

// What the tests of the main object share: the main object started in a
// throw-away home with its options set where the program reads them (a file
// there, the registry on Windows), and what the user would see of it.
#include "sandbox.h"

#include "app/gravex.h"
#include "reception/localreception.h"
#include "service/serviceclient.h"
#include "settings/options.h"
#include "tray/tray.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <memory>

// The warning the program shows where there is no tray (as under the
// offscreen platform): its message box, or an empty text.
inline QString shownWarning()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (box && box->isVisible() && box->icon() == QMessageBox::Warning)
            return box->text();
    }
    return {};
}

inline void closeWarnings()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox *>(w))
            w->close();
    }
}

// On a virtual desktop the tray takes its role a moment after it appears.
inline void waitForTray()
{
    if (qEnvironmentVariableIsSet("DISPLAY"))
        static_cast<void>(QTest::qWaitFor(QSystemTrayIcon::isSystemTrayAvailable, 10000));
}

// Title and text of the balloon on screen, or "".
inline QString balloon()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || qstrcmp(w->metaObject()->className(), "QBalloonTip") != 0)
            continue;
        QStringList texts;
        for (QLabel *label : w->findChildren<QLabel *>()) {
            if (!label->text().isEmpty())
                texts << label->text();
        }
        return texts.join('|');
    }
    return {};
}

// What tests reach of the main object that is not a widget of its own: the
// receiver's batch and socket, option members changed as Apply or Select...
// change them, and the tray icon's blink timer.
struct GravexProbe
{
    Gravex &g;
    Reception *reception() const { return g.reception; }
    Receiver &receiver() const { return g.own->receiver; }
    Filing &filing() const { return receiver().filing; }
    // The end of a batch, and its files on the disk and announced.
    void finishBatch()
    {
        receiver().finishBatch();
        filing().finishSyncs();
    }
    void setFilePath(const QString &folder)
    {
        g.filePath = folder;
        g.reception->chooseFolder(folder);
    }
    void setLanguage(int language)
    {
        g.language = language;
        g.own->values.language = language;
        g.own->passOptions();
    }
    const QString &filePath() const { return g.filePath; }
    bool receives() const { return g.own != nullptr; }
    bool followsService() const { return g.service->isConnected(); }
    bool portOpen() const { return receiver().isReceiving(); }
    quint16 port() const { return receiver().udpSocket->localPort(); }
    qintptr socketDescriptor() const { return receiver().udpSocket->socketDescriptor(); }
    Tray *trayIcon() { return g.trayIcon; }
    static QTimer *blinkTimer(Tray *t) { return t->blinkTimer; }
    static void tick(Tray *t) { t->blinkTrayIcon(); }
};

using Options = QVariantMap;

// The main object, built the way the program builds it, in the sandbox the
// real program runs in outside tests (HOME, configuration and runtime folder
// in a temporary folder, English, a free port, the data folder "data"), with
// balloons and start at login on as for a new user, changed or completed by
// `options`; with `withOptions` false the store is left empty.
struct Fixture
{
    Sandbox sandbox;
    std::unique_ptr<Gravex> gravex;
    std::unique_ptr<GravexProbe> probe;

    explicit Fixture(const Options &options = {}, bool withOptions = true)
        : sandbox(asNewUser(options))
    {
        const QProcessEnvironment env = sandbox.environment();
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "RUNTIME_DIRECTORY"})
            qputenv(name, QFile::encodeName(env.value(name)));
        if (!withOptions)
            store([](QSettings &s) { s.clear(); });
        start();
    }
    ~Fixture()
    {
        gravex.reset();
        closeWarnings();
    }

    static Options asNewUser(Options options)
    {
        for (const char *on : {"ShowTrayMessage", "AutoLoad"})
            options.insert(on, options.value(on, true));
        return options;
    }
    // A restart: the running one ends before the next one starts, as with
    // the real program (two sockets on one port would share it).
    void start()
    {
        probe.reset();
        gravex.reset();
        gravex = std::make_unique<Gravex>();
        probe = std::make_unique<GravexProbe>(GravexProbe{*gravex});
    }
    static void store(const std::function<void(QSettings &)> &change)
    {
        std::unique_ptr<QSettings> s(options::openStore());
        change(*s);
        s->sync();
    }
    static QVariant stored(const QString &key)
    {
        std::unique_ptr<QSettings> s(options::openStore());
        return s->value(key);
    }

    // A widget of the options window, or an action of the tray menu, by its name.
    template <typename T> T *find(const char *name) const
    {
        T *found = gravex->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no %s named %s", T::staticMetaObject.className(), name);
        return found;
    }
    QMenu *trayMenu() const { return probe->trayIcon()->contextMenu(); }
    // What the user does with the options window and the tray menu.
    void apply() const { find<QPushButton>("apply")->click(); }
    void command(const char *name) const { find<QAction>(name)->trigger(); }

    QString path(const QString &relative) const { return sandbox.home() + '/' + relative; }
    QString today() const { return path("data/" + QDate::currentDate().toString("dd.MM.yyyy")); }
    // A file in today's folder under the data folder "data".
    QString file(const QString &name) const { return today() + '/' + name; }
    QStringList filesOfToday() const { return QDir(today()).entryList(QDir::Files); }
    quint16 port() { return probe->port(); }

    // One batch of datagrams, as one pass of the receiver hands them over,
    // each through the main object's slot.
    void save(const QByteArrayList &datagrams)
    {
        for (const QByteArray &d : datagrams)
            QMetaObject::invokeMethod(gravex.get(), "saveMessage", Q_ARG(QByteArray, d));
        probe->finishBatch();
    }
    void send(const QByteArrayList &datagrams, quint16 to = 0)
    {
        sendFrom(QHostAddress::LocalHost, datagrams, to);
    }
    // From another loopback address, such as 127.0.0.2 or ::1.
    void sendFrom(const QHostAddress &from, const QByteArrayList &datagrams, quint16 to = 0)
    {
        QUdpSocket sender;
        sender.bind(from, 0);
        const bool v6 = from.protocol() == QAbstractSocket::IPv6Protocol;
        for (const QByteArray &d : datagrams)
            sender.writeDatagram(d, v6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost,
                                 to ? to : port());
    }
    // The arrival notice leaves the icon blinking.
    bool blinking() { return GravexProbe::blinkTimer(probe->trayIcon())->isActive(); }
};

// Answers the modal windows opened with exec(): a timer notes each new one,
// and what a message box says, and answers it.
class ModalDriver : public QObject
{
public:
    using Answer = std::function<void(QWidget *)>;
    static Answer press(QMessageBox::StandardButton button)
    {
        return [button](QWidget *w) { qobject_cast<QMessageBox *>(w)->button(button)->click(); };
    }

    explicit ModalDriver(Answer answer = [](QWidget *w) { w->close(); })
    {
        connect(&timer, &QTimer::timeout, this, [this, answer] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || !w->isVisible() || seen.contains(w))
                return;
            seen << w;
            if (auto *box = qobject_cast<QMessageBox *>(w))
                boxes << QStringList{box->windowTitle(), box->text(), box->informativeText()}.join(
                    '|');
            answer(w);
        });
        timer.start(10);
    }

    QStringList boxes; // title|text|informative text of each message box

private:
    QTimer timer;
    QList<QPointer<QWidget>> seen;
};
