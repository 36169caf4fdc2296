#pragma once

#include "files/datafiles.h"
#include "files/syncqueue.h"
#include "status/dayscan.h"
#include "status/tally.h"

#include <QString>
#include <QTimer>
#include <QWidget>

class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QFile;
class QGridLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSettings;
class QUdpSocket;

class AutostartEntry;
class EncodedStream;
class StatusWindow;
class Tray;

// The CRC16 that the scales put in their frames.
using word = quint16;

// The program's one main object: the options window and the owner of every
// other piece. Its slots are implemented next to the subsystem they belong to:
//   app/        constructor, destructor, showWindow, quitApp, closeEvent
//   i18n/       getLanguageString, getAppName
//   reception/  createUdpSocket, receiveMessage, getMessageString, crc16
//   files/      setFileCounter, addFileHeader, saveMessage
//   settings/   loadOptions, applyOptions, selectDir
//   tray/       createTrayIcon, aboutGravex, aboutQt, licenseApp, readmeApp
// and, beside them, status/ holds what the status window shows.
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
    void bindUdpSocket();
    const QString &todaysDateFolder();
    void makeDateFolder(const QString &dateFolder);
    // A transfer's data file: the next accepted datagram opens one when none is.
    bool newFile() const;
    void openDataFile(const QString &dateFolder);
    void storeLines();
    bool reopenVanishedDataFile();
    void closeDataFile();
    void finishBatch();
    bool syncWritten();
    void storeAndClose();
    void warnOfLoss(const QString &path);
    void announceArrival();
    void warn(const QString &text);
    // The status window and the data folder (status/).
    void startStatus();
    void countToday(const QString &dateFolder);
    void countTodayStep();
    void followToday();
    void showStatus();
    void openDataFolder();
    void applyAllowedSenders(const QString &text);

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
    QFile *dataFile = nullptr;
    QFile *debugFile = nullptr;
    QUdpSocket *udpSocket = nullptr;
    EncodedStream *dataStream = nullptr;
    QString filePath;
    QString version;
    // Set by loadOptions() before anything reads them.
    quint16 udpPort{};
    qint64 fileCounter{};
    bool showTrayMessage{};
    bool autoLoad{};
    bool debug{};
    int language{};
    int loadedLanguage{};

    // One buffer for every datagram read, kept for the socket's life.
    QByteArray receiveBuffer;
    datafiles::TodaysFolder todaysFolder;
    // Today's folder was looked at in this batch of datagrams.
    bool dateFolderChecked{};
    datafiles::HeldDebugDump debugDump;
    datafiles::SyncQueue syncQueue;
    // The file the user was last warned of, until a write there succeeds:
    // one warning for each time writing fails.
    QString warnedFile;

    // What the status window and the tool tip show.
    QAction *statusAction = nullptr;
    QAction *openFolderAction = nullptr;
    StatusWindow *statusWindow = nullptr;
    status::Tally tally;
    // Today's files already on disk, counted a few at a time.
    status::DayScan dayScan;
    QTimer dayScanTimer;
    // Looks at the date now and then, for a day that began without traffic.
    QTimer dayTimer;
    QString allowedSenders;
    // Why the UDP port is not open; empty while it is.
    QString portProblem;
    // Lines reached their file in this batch of datagrams: one notice at its end.
    bool resultsStored{};

    friend struct GravexProbe;
};
