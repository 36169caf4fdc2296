#pragma once

#include "settings/options.h"
#include "status/snapshot.h"

#include <QString>
#include <QVariantMap>
#include <QWidget>

class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QDateTime;
class QGridLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSettings;

class AutostartEntry;
class LocalReception;
class Reception;
class ServiceClient;
class StatusWindow;
class Tray;

// The CRC16 that the scales put in their frames.
using word = quint16;

// The program's one main object: the options window and the owner of every
// other piece. Who receives is its reception: this program itself
// (LocalReception) or the service, whose window it then is (ServiceClient);
// its slots of receiving and filing hand on to it, and it shows what it says.
// Its slots are implemented next to the subsystem they belong to:
//   app/        constructor, destructor, showWindow, quitApp, closeEvent
//   i18n/       getLanguageString, getAppName
//   reception/  createUdpSocket, receiveMessage, getMessageString, crc16
//   files/      setFileCounter, addFileHeader, saveMessage
//   settings/   loadOptions, applyOptions, selectDir
//   tray/       createTrayIcon, aboutGravex, aboutQt, licenseApp, readmeApp
// and, beside them, status/ holds what the status window shows, and
// app/gravex_service.cpp who receives: the reception chosen, and the
// hand-over to the service when it starts while this program receives.
class Gravex : public QWidget
{
    Q_OBJECT

public:
    explicit Gravex(QWidget *parent = nullptr);
    ~Gravex() override;

    // Shows the options window, or brings it to the front when it is shown.
    void showOptions();
    // Everything the status window shows, as it is now.
    status::Snapshot statusSnapshot();
    // The tray icon's tool tip: the long title, then the last results.
    QString toolTipText();

public Q_SLOTS:
    QString getLanguageString(qint8 param);
    QString getAppName(bool param);

private Q_SLOTS:
    void showWindow();
    void aboutGravex();
    void aboutQt();
    void createTrayIcon();
    void createUdpSocket();
    void receiveMessage();
    void loadOptions();
    void applyOptions();
    void selectDir();
    void setFileCounter();
    void quitApp();
    void licenseApp();
    void readmeApp();
    void addFileHeader();
    void saveMessage(QByteArray message);
    QString getMessageString(QByteArray messageData);
    word crc16(QByteArray buf);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Steps of the slots above, kept out of the meta-object.
    void buildOptionsWindow();
    void announceArrival(const QDateTime &time);
    void warn(const QString &text);
    // The status window and the data folder (status/).
    void startStatus();
    void showStatus();
    void refreshStatus();
    void openDataFolder();
    void applyWatching(const QString &allowedSenders, int silentScaleMinutes);
    void showRefusal(const QString &whoMayChange, const QString &badEntry);
    // Who receives (app/gravex_service.cpp).
    void useReception(Reception *chosen);
    void takenOver();
    void showReceptionOptions(const options::Values &values, int change);

    QSettings *settings = nullptr;
    AutostartEntry *runSettings = nullptr;
    QGridLayout *gridLayout = nullptr;
    QLabel *languageLabel = nullptr;
    QLabel *folderLabel = nullptr;
    QLabel *portLabel = nullptr;
    QComboBox *languageBox = nullptr;
    QLineEdit *folderEdit = nullptr;
    QLineEdit *portEdit = nullptr;
    QCheckBox *showTrayMessageCheck = nullptr;
    QCheckBox *autoLoadCheck = nullptr;
    QCheckBox *debugCheck = nullptr;
    QPushButton *closeButton = nullptr;
    QPushButton *applyButton = nullptr;
    QPushButton *selectButton = nullptr;
    Tray *trayIcon = nullptr;
    QAction *licenseAction = nullptr;
    QAction *readmeAction = nullptr;
    QAction *showWindowAction = nullptr;
    QAction *aboutAction = nullptr;
    QAction *aboutQtAction = nullptr;
    QAction *quitAction = nullptr;
    QMenu *trayMenu = nullptr;
    QMenu *helpMenu = nullptr;
    // Who receives: this program itself (`own`, while it does) or the
    // service, which is always looked for.
    Reception *reception = nullptr;
    LocalReception *own = nullptr;
    ServiceClient *service = nullptr;
    QString filePath;
    QString version;
    // Set by loadOptions() before anything reads them.
    quint16 udpPort{};
    bool showTrayMessage{};
    bool autoLoad{};
    bool debug{};
    int language{};
    int loadedLanguage{};
    QString allowedSenders;
    int silentScaleMinutes = options::defaultSilentScaleMinutes;

    QAction *statusAction = nullptr;
    QAction *openFolderAction = nullptr;
    StatusWindow *statusWindow = nullptr;

    // The figures as the reception last told them.
    status::Snapshot lastStatus;
    // Above the options window's fields, while they are not this program's.
    QLabel *serviceNote = nullptr;

    friend struct GravexProbe;
};
