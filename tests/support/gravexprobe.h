#pragma once

// Test access to the main object's and the tray icon's private members.
#include "app/gravex.h"
#include "tray/tray.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QUdpSocket>

struct GravexProbe
{
    explicit GravexProbe(Gravex &gravex) : g(gravex) {}
    Gravex &g;

    // Option members.
    QString &filePath() { return g.filePath; }
    quint16 &udpPort() { return g.udpPort; }
    int &language() { return g.language; }
    int &loadedLanguage() { return g.loadedLanguage; }

    // Data files.
    qint64 &fileCounter() { return g.fileCounter; }
    QFile *dataFile() { return g.dataFile; }
    QFile *debugFile() { return g.debugFile; }
    QSettings *settings() { return g.settings; }
    QUdpSocket *udpSocket() { return g.udpSocket; }
    const QString &lastWarning() { return g.lastWarning; }
    int warningCount() { return g.warningCount; }

    // Widgets.
    QGridLayout *gridLayout() { return g.gridLayout; }
    QLabel *languageLabel() { return g.languageLabel; }
    QLabel *folderLabel() { return g.folderLabel; }
    QLabel *portLabel() { return g.portLabel; }
    QComboBox *languageBox() { return g.languageBox; }
    QLineEdit *folderEdit() { return g.folderEdit; }
    QLineEdit *portEdit() { return g.portEdit; }
    QCheckBox *showTrayMessageCheck() { return g.showTrayMessageCheck; }
    QCheckBox *autoLoadCheck() { return g.autoLoadCheck; }
    QCheckBox *debugCheck() { return g.debugCheck; }
    QPushButton *closeButton() { return g.closeButton; }
    QPushButton *applyButton() { return g.applyButton; }
    QPushButton *selectButton() { return g.selectButton; }

    // Tray icon and menu.
    Tray *trayIcon() { return g.trayIcon; }
    QAction *licenseAction() { return g.licenseAction; }
    QAction *readmeAction() { return g.readmeAction; }
    QAction *showWindowAction() { return g.showWindowAction; }
    QAction *aboutAction() { return g.aboutAction; }
    QAction *aboutQtAction() { return g.aboutQtAction; }
    QAction *quitAction() { return g.quitAction; }
    QMenu *trayMenu() { return g.trayMenu; }
    QMenu *helpMenu() { return g.helpMenu; }

    // Private slots, called as the program calls them.
    void showWindow() { g.showWindow(); }
    void applyOptions() { g.applyOptions(); }
    void setFileCounter() { g.setFileCounter(); }
    void saveMessage(const QByteArray &m) { g.saveMessage(m); }

    // The tray icon's own state.
    static QTimer *blinkTimer(Tray *t) { return t->blinkTimer; }
    static bool blinkState(Tray *t) { return t->blinkState; }
    static void tick(Tray *t) { t->blinkTrayIcon(); }
};
