#pragma once

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
class Receiver;
class ServiceClient;
class StatusWindow;
class Tray;

// The CRC16 that the scales put in their frames.
using word = quint16;

// The program's one main object: the options window and the owner of every
// other piece. Receiving and filing are the work of its receiver, which its
// reception and filing slots hand on to. Its slots are implemented next to
// the subsystem they belong to:
//   app/        constructor, destructor, showWindow, quitApp, closeEvent
//   i18n/       getLanguageString, getAppName
//   reception/  createUdpSocket, receiveMessage, getMessageString, crc16
//   files/      setFileCounter, addFileHeader, saveMessage
//   settings/   loadOptions, applyOptions, selectDir
//   tray/       createTrayIcon, aboutGravex, aboutQt, licenseApp, readmeApp
// and, beside them, status/ holds what the status window shows, and
// app/gravex_service.cpp the tray program as the window of the service:
// while the service receives, the main object has no receiver of its own and
// shows what the service says.
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
    // The receiver works by the options in force.
    void passOptions();
    void announceArrival(const QDateTime &time);
    void warn(const QString &text);
    // The status window and the data folder (status/).
    void startStatus();
    void showStatus();
    void refreshStatus();
    void openDataFolder();
    void applyAllowedSenders(const QString &text);
    // The service (app/gravex_service.cpp).
    void followService();
    void takenOver();
    void showServiceOptions(const QVariantMap &options);
    void serviceRefused(const QVariantMap &why);
    QString whoMayChangeText(const QString &who);

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
    // The socket, the data and debug files and their stream are the receiver's.
    Receiver *receiver = nullptr;
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

    QAction *statusAction = nullptr;
    QAction *openFolderAction = nullptr;
    StatusWindow *statusWindow = nullptr;

    // The line to the service, which, while it runs, receives instead.
    ServiceClient *service = nullptr;
    status::Snapshot serviceStatus;
    // Above the options window's fields, while they are the service's.
    QLabel *serviceNote = nullptr;

    friend struct GravexProbe;
};
