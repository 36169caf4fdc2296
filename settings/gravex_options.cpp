// Gravex: the options window and choosing the data folder.
#include "app/gravex.h"

#include "i18n/strings.h"
#include "reception/reception.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
const QString portMask = QStringLiteral("99999");
} // namespace

// The widgets are created in their Tab order and show the options as loaded.
void Gravex::buildOptionsWindow()
{
    gridLayout = new QGridLayout(this);
    languageBox = new QComboBox(this);
    folderEdit = new QLineEdit(this);
    portEdit = new QLineEdit(this);
    applyButton = new QPushButton(getLanguageString(strings::Apply), this);
    closeButton = new QPushButton(getLanguageString(strings::Close), this);
    selectButton = new QPushButton(getLanguageString(strings::Select), this);
    showTrayMessageCheck = new QCheckBox(getLanguageString(strings::NotifyOnArrival), this);
    autoLoadCheck = new QCheckBox(getLanguageString(strings::AutoStart), this);
    debugCheck = new QCheckBox(getLanguageString(strings::SaveDebug), this);
    languageLabel = new QLabel(getLanguageString(strings::Language), this);
    folderLabel = new QLabel(getLanguageString(strings::DataFolder), this);
    portLabel = new QLabel(getLanguageString(strings::UdpPort), this);

    // Names to find them by, for tests and tools, whatever the members are called.
    const std::pair<QObject *, const char *> names[] = {
        {languageBox, "language"},        {folderEdit, "folder"},       {portEdit, "port"},
        {applyButton, "apply"},           {closeButton, "close"},       {selectButton, "select"},
        {showTrayMessageCheck, "notify"}, {autoLoadCheck, "autoStart"}, {debugCheck, "debug"},
        {languageLabel, "languageLabel"}, {folderLabel, "folderLabel"}, {portLabel, "portLabel"}};
    for (const auto &[object, name] : names)
        object->setObjectName(QLatin1String(name));

    portEdit->setInputMask(portMask);
    folderEdit->setText(filePath);
    portEdit->setText(QStringLiteral("%1").arg(udpPort));
    showTrayMessageCheck->setChecked(showTrayMessage);
    autoLoadCheck->setChecked(autoLoad);
    debugCheck->setChecked(debug);

    setLayout(gridLayout);
    gridLayout->addWidget(languageLabel, 1, 1, 1, 4);
    gridLayout->addWidget(languageBox, 2, 1, 1, 4);
    gridLayout->addWidget(folderLabel, 3, 1, 1, 4);
    gridLayout->addWidget(folderEdit, 4, 1, 1, 3);
    gridLayout->addWidget(selectButton, 4, 4, 1, 1);
    gridLayout->addWidget(portLabel, 5, 1, 1, 4);
    gridLayout->addWidget(portEdit, 6, 1, 1, 2);
    gridLayout->addWidget(debugCheck, 7, 1, 1, 4);
    gridLayout->addWidget(showTrayMessageCheck, 8, 1, 1, 4);
    gridLayout->addWidget(autoLoadCheck, 9, 1, 1, 4);
    gridLayout->addWidget(applyButton, 10, 3, 1, 1);
    gridLayout->addWidget(closeButton, 10, 4, 1, 1);

    languageBox->insertItem(languageBox->count(), tr("Русский"));
    languageBox->insertItem(languageBox->count(), tr("English"));
    languageBox->setCurrentIndex(language != 0 ? 1 : 0);

    connect(applyButton, &QPushButton::clicked, this, &Gravex::applyOptions);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(selectButton, &QPushButton::clicked, this, &Gravex::selectDir);
    showReceptionOptions(reception->options(), Reception::Elsewhere);
}

// The chosen folder becomes the data folder at once; Apply stores it.
void Gravex::selectDir()
{
    const QString chosen = QFileDialog::getExistingDirectory(
        this, getLanguageString(strings::DataFolder), filePath, QFileDialog::ShowDirsOnly);
    const QDir dir(chosen);
    if (chosen.isEmpty() || !dir.exists())
        return;
    filePath = QDir::toNativeSeparators(dir.path());
    folderEdit->setText(filePath);
    reception->chooseFolder(filePath);
}
