#include "status/statuswindow.h"

#include "files/datafiles.h"
#include "i18n/strings.h"
#include "status/dayreport.h"

#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace {

constexpr int refreshMs = 1000;
// The scales table's column of the hours' strip.
constexpr int hoursColumn = 2;
// A day, as the stored option is kept.
constexpr int longestSilenceMinutes = 24 * 60;

QString number(qint64 n)
{
    return QString::number(n);
}

// Today's times by the clock alone, others with their date.
QString when(const QDateTime &time)
{
    if (!time.isValid())
        return {};
    const char *format = time.date() == QDate::currentDate() ? "hh:mm:ss" : "dd.MM.yyyy hh:mm:ss";
    return time.toString(QLatin1String(format));
}

// The rows in place of those shown, reusing the items, so that the scroll
// position and the selection stay while the figures change.
void fill(QTreeWidget *table, const QList<QStringList> &rows, const QList<int> &numbers = {})
{
    while (table->topLevelItemCount() > rows.size())
        delete table->takeTopLevelItem(table->topLevelItemCount() - 1);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QTreeWidgetItem *item = table->topLevelItem(int(i));
        if (!item)
            item = new QTreeWidgetItem(table);
        for (int c = 0; c < rows[i].size(); ++c)
            item->setText(c, rows[i][c]);
        for (int c : numbers)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
}

QString shortFile(const QString &path)
{
    const QFileInfo file(path);
    return QDir::toNativeSeparators(file.dir().dirName() + QLatin1Char('/') + file.fileName());
}

} // namespace

StatusWindow::StatusWindow(int language_, const QString &title) : language(language_)
{
    setObjectName(QStringLiteral("status"));
    setWindowTitle(title);
    setWindowIcon(QIcon(QStringLiteral(":/Gravex")));
    auto *layout = new QVBoxLayout(this);
    source = createValue("source");
    source->setWordWrap(true);
    source->hide();
    layout->addWidget(source);
    layout->addWidget(createReception());
    layout->addWidget(createTables(), 1);
    layout->addWidget(createAllowedSenders());
    auto *close = new QPushButton(strings::interfaceString(language, strings::Close), this);
    close->setObjectName(QStringLiteral("close"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(760, 560);

    refresh.setInterval(refreshMs);
    connect(&refresh, &QTimer::timeout, this, &StatusWindow::refreshWanted);
}

QString StatusWindow::phrase(int which) const
{
    return strings::phrase(language, strings::Phrase(which));
}

QLabel *StatusWindow::createValue(const char *name)
{
    auto *label = new QLabel(this);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QWidget *StatusWindow::createReception()
{
    auto *box = new QGroupBox(phrase(strings::Reception), this);
    auto *form = new QFormLayout(box);
    form->addRow(strings::interfaceString(language, strings::UdpPort), port = createValue("port"));
    form->addRow(phrase(strings::ReceiveBuffer), buffer = createValue("buffer"));
    form->addRow(phrase(strings::Received), received = createValue("received"));
    form->addRow(phrase(strings::Stored), stored = createValue("stored"));
    form->addRow(phrase(strings::Rejected), rejected = createValue("rejected"));
    form->addRow(phrase(strings::Dropped), dropped = createValue("dropped"));
    return box;
}

QTreeWidget *StatusWindow::createTable(const char *name, const QList<int> &columns)
{
    auto *table = new QTreeWidget(this);
    table->setObjectName(QLatin1String(name));
    table->setRootIsDecorated(false);
    table->setUniformRowHeights(true);
    QStringList header;
    for (int column : columns)
        header << phrase(column);
    table->setHeaderLabels(header);
    table->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->header()->setStretchLastSection(true);
    return table;
}

QWidget *StatusWindow::createTables()
{
    auto *tabs = new QTabWidget(this);
    auto *today = new QWidget(this);
    auto *todayLayout = new QVBoxLayout(today);
    counting = createValue("counting");
    counting->setText(phrase(strings::CountingFiles));
    scales =
        createTable("scales", {strings::Scale, strings::Records, strings::Hours, strings::Transfers,
                               strings::LostPackets, strings::MissingTransactions, strings::Clock,
                               strings::Silence, strings::LastRecord, strings::Senders});
    todayLayout->addWidget(counting);
    todayLayout->addWidget(scales);
    tabs->addTab(today, phrase(strings::ScalesToday));
    senders = createTable("senders", {strings::Address, strings::Accepted, strings::BadFrame,
                                      strings::BadLength, strings::BadCrc, strings::NotAllowed,
                                      strings::LostPackets, strings::LastSeen});
    tabs->addTab(senders, phrase(strings::Senders));
    events = createTable("events", {strings::Time, strings::Event});
    tabs->addTab(events, phrase(strings::RecentEvents));
    tabs->addTab(dayTab = createDay(), phrase(strings::Day));
    // Read when looked at, not once a second: a day may hold 100,000 records.
    connect(tabs, &QTabWidget::currentChanged, this, [this, tabs] {
        if (tabs->currentWidget() == dayTab)
            askDay();
    });
    return tabs;
}

QWidget *StatusWindow::createAllowedSenders()
{
    auto *box = new QGroupBox(phrase(strings::AllowedSenders), this);
    auto *layout = new QVBoxLayout(box);
    auto *row = new QHBoxLayout;
    allowed = new QLineEdit(this);
    allowed->setObjectName(QStringLiteral("allowedSenders"));
    allowed->setPlaceholderText(phrase(strings::AllowedSendersHint));
    allowed->setToolTip(phrase(strings::AllowedSendersHint));
    auto *apply = new QPushButton(strings::interfaceString(language, strings::Apply), this);
    apply->setObjectName(QStringLiteral("applyAllowedSenders"));
    row->addWidget(allowed, 1);
    row->addWidget(apply);
    layout->addLayout(row);
    entryProblem = createValue("allowedSendersProblem");
    entryProblem->setStyleSheet(QStringLiteral("color: #b00000"));
    entryProblem->hide();
    layout->addWidget(entryProblem);
    auto *silence = new QHBoxLayout;
    auto *label = new QLabel(phrase(strings::SilentScaleMinutes), this);
    silentMinutes = new QSpinBox(this);
    silentMinutes->setObjectName(QStringLiteral("silentScaleMinutes"));
    silentMinutes->setRange(0, longestSilenceMinutes);
    silentMinutes->setToolTip(phrase(strings::SilentScaleHint));
    label->setToolTip(silentMinutes->toolTip());
    label->setBuddy(silentMinutes);
    silence->addWidget(label);
    silence->addWidget(silentMinutes);
    silence->addStretch(1);
    layout->addLayout(silence);
    const auto applied = [this] {
        silentMinutes->interpretText();
        Q_EMIT watchingApplied(allowed->text(), silentMinutes->value());
    };
    connect(apply, &QPushButton::clicked, this, applied);
    connect(allowed, &QLineEdit::returnPressed, this, applied);
    return box;
}

// Today's missing transaction numbers and the resends.
QString StatusWindow::transactions(const status::ScaleRow &scale) const
{
    QStringList parts;
    if (scale.missingCount > 0)
        parts << phrase(strings::Missing).arg(scale.missing).arg(scale.missingCount);
    if (scale.resent > 0)
        parts << phrase(strings::Resent).arg(scale.resent);
    return parts.join(QLatin1String("; "));
}

// Said only when the scale's clock is off by more than ten minutes: then
// its weighings go under the wrong day in the accounts near midnight.
QString StatusWindow::clock(const status::ScaleRow &scale) const
{
    constexpr qint64 toleratedS = 10 * 60;
    if (!scale.clockKnown || qAbs(scale.clockBehindS) <= toleratedS)
        return {};
    const qint64 minutes = qAbs(scale.clockBehindS) / 60;
    const QString off = phrase(strings::HoursMinutes).arg(minutes / 60).arg(minutes % 60);
    return phrase(scale.clockBehindS > 0 ? strings::ClockBehind : strings::ClockAhead).arg(off);
}

// Today's hours up to the present one as a strip of bars, each as high as
// its records against the busiest hour's, so that a gap is seen at a
// glance; the figures are in the tool tip.
void StatusWindow::showHours(QTreeWidgetItem *item, int column, const status::Hours &hours) const
{
    static const QChar bars[] = {u'·', u'▁', u'▂', u'▃', u'▄', u'▅', u'▆', u'▇', u'█'};
    constexpr qint64 levels = qint64(std::size(bars)) - 1;
    const int now = QTime::currentTime().hour();
    int last = now;
    for (int h = now + 1; h < 24; ++h) { // a clock set back: no hour hidden
        if (hours[size_t(h)] > 0)
            last = h;
    }
    const qint64 most = *std::max_element(hours.begin(), hours.end());
    QString strip;
    QStringList figures;
    for (int h = 0; h <= last; ++h) {
        const qint64 n = hours[size_t(h)];
        strip += bars[n == 0 ? 0 : size_t(1 + (n * levels - 1) / most)];
        if (n > 0)
            figures << phrase(strings::HourRecords).arg(h, 2, 10, QLatin1Char('0')).arg(n);
    }
    item->setText(column, strip);
    item->setToolTip(column, figures.join(QLatin1Char('\n')));
    item->setFont(column, QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void StatusWindow::display(const status::Snapshot &s)
{
    const status::Reception &r = s.reception;
    port->setText(r.open ? phrase(strings::PortOpen).arg(r.port)
                         : phrase(strings::PortNotOpen).arg(r.port).arg(r.problem));
    buffer->setText(r.open ? phrase(strings::Kibibytes).arg(r.bufferBytes / 1024) : QString());
    received->setText(number(r.received));
    stored->setText(number(r.stored));
    rejected->setText(number(r.rejected));
    dropped->setText(r.dropped < 0 ? phrase(strings::NotCounted) : number(r.dropped));
    counting->setVisible(s.countingFiles);

    QList<QStringList> rows;
    for (const status::ScaleRow &scale : s.scales)
        rows << QStringList{scale.scale,
                            number(scale.records),
                            QString(),
                            number(scale.transfers),
                            number(scale.lostPackets),
                            transactions(scale),
                            clock(scale),
                            scale.silentSince.isValid()
                                ? phrase(strings::SilentSince)
                                      .arg(scale.silentSince.toString(QStringLiteral("hh:mm")))
                                : QString(),
                            when(scale.lastRecord),
                            scale.senders.join(QLatin1String(", "))};
    fill(scales, rows, {1, 3, 4});
    for (qsizetype i = 0; i < s.scales.size(); ++i)
        showHours(scales->topLevelItem(int(i)), hoursColumn, s.scales[i].hours);
    rows.clear();
    for (const status::SenderRow &sender : s.senders) {
        QStringList row{sender.address, number(sender.accepted)};
        for (int why : {status::Frame, status::Length, status::Crc, status::NotAllowed})
            row << number(sender.rejected[why]);
        rows << (row << number(sender.lostPackets) << when(sender.lastSeen));
    }
    fill(senders, rows, {1, 2, 3, 4, 5, 6});
    rows.clear();
    for (const status::Event &event : s.events) {
        const QString text =
            !event.warning.isEmpty()
                ? event.warning
                : phrase(strings::ArrivalEvent)
                      .arg(event.records)
                      .arg(shortFile(event.file), event.scales.join(QLatin1String(", ")));
        rows << QStringList{when(event.time),
                            QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))};
    }
    fill(events, rows);
}

QWidget *StatusWindow::createDay()
{
    auto *day = new QWidget(this);
    day->setObjectName(QStringLiteral("day"));
    auto *layout = new QVBoxLayout(day);
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(phrase(strings::DayDate), this);
    dayDate = new QDateEdit(QDate::currentDate(), this);
    dayDate->setObjectName(QStringLiteral("dayDate"));
    dayDate->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    dayDate->setCalendarPopup(true);
    label->setBuddy(dayDate);
    daySummary = createValue("daySummary");
    auto *exportButton = new QPushButton(phrase(strings::Export), this);
    exportButton->setObjectName(QStringLiteral("exportDay"));
    row->addWidget(label);
    row->addWidget(dayDate);
    row->addWidget(daySummary, 1);
    row->addWidget(exportButton);
    layout->addLayout(row);
    dayScales =
        createTable("dayScales", {strings::Scale, strings::Records, strings::FirstTransaction,
                                  strings::LastTransaction, strings::NotFiled, strings::WeightSum});
    dayGoods = createTable("dayGoods", {strings::Plu, strings::Records, strings::WeightSum,
                                        strings::LowestPrice, strings::HighestPrice});
    layout->addWidget(dayScales, 1);
    layout->addWidget(dayGoods, 1);
    connect(dayDate, &QDateEdit::dateChanged, this, &StatusWindow::askDay);
    connect(exportButton, &QPushButton::clicked, this, &StatusWindow::askExport);
    return day;
}

// What was shown goes at once: the figures of another date must not stand
// under this one while it is read.
void StatusWindow::askDay()
{
    dayAwaited = true;
    daySummary->setText(phrase(strings::ReadingDay));
    fill(dayScales, {});
    fill(dayGoods, {});
    Q_EMIT dayWanted(dayDate->date(), !exportFolder.isEmpty());
}

void StatusWindow::askDayAgain()
{
    if (dayAwaited)
        Q_EMIT dayWanted(dayDate->date(), !exportFolder.isEmpty());
}

void StatusWindow::showDay(const status::DayAnswer &answer)
{
    if (answer.date != dayDate->date())
        return; // another date was chosen meanwhile
    dayAwaited = false;
    if (answer.unreachable) {
        exportFolder.clear();
        daySummary->setText(phrase(strings::ServiceGone));
        return;
    }
    const status::DayReport &report = answer.report;
    daySummary->setText(report.found
                            ? phrase(strings::DaySummary).arg(report.records).arg(report.files)
                        : report.closedFolder.isEmpty()
                            ? phrase(strings::NoDayFolder)
                            : phrase(strings::DataFolderClosed).arg(report.closedFolder));
    QList<QStringList> rows;
    for (const status::ScaleDay &s : report.scales)
        rows << QStringList{s.scale,
                            number(s.records),
                            number(s.firstTransaction),
                            number(s.lastTransaction),
                            number(s.notFiled),
                            number(s.weightSum)};
    fill(dayScales, rows, {1, 2, 3, 4, 5});
    rows.clear();
    for (const status::PluDay &p : report.plus)
        rows << QStringList{p.plu < 0 ? QStringLiteral("*") : number(p.plu), number(p.records),
                            number(p.weightSum), number(p.lowestPrice), number(p.highestPrice)};
    fill(dayGoods, rows, {0, 1, 2, 3, 4});
    if (exportFolder.isEmpty())
        return;
    if (answer.withRecords)
        writeExport(answer);
    else // the export's request was replaced by one without the records
        askDay();
}

void StatusWindow::askExport()
{
    const QString folder = QFileDialog::getExistingDirectory(this, phrase(strings::ExportTitle));
    if (!folder.isEmpty())
        exportDay(folder);
}

void StatusWindow::exportDay(const QString &folder)
{
    exportFolder = folder;
    askDay();
}

// Each file is whole or not there: written aside and renamed.
void StatusWindow::writeExport(const status::DayAnswer &answer)
{
    const QString folder = std::exchange(exportFolder, {});
    if (!answer.whoMayRead.isEmpty()) {
        const QString &who = answer.whoMayRead;
        daySummary->setText(who.startsWith(QLatin1String("group:"))
                                ? phrase(strings::OnlyGroupMayRead).arg(who.mid(6))
                                : phrase(strings::OnlyAdministratorsMayRead));
        return;
    }
    const QString stem = QDir(folder).filePath(datafiles::dateFolderName(answer.date));
    // Today's figures as of the records written, which were read after them.
    const status::DayReport report = status::reportOf(answer.records);
    const QList<std::pair<QString, QByteArray>> files{
        {stem + QLatin1String(" scales.csv"), status::scalesCsv(report, language)},
        {stem + QLatin1String(" goods.csv"), status::plusCsv(report, language)},
        {stem + QLatin1String(" records.csv"), status::recordsCsv(answer.records, language)}};
    QStringList written;
    for (const auto &[path, bytes] : files) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
            !file.commit()) {
            daySummary->setText(phrase(strings::ExportFailed).arg(QDir::toNativeSeparators(path)));
            return;
        }
        written << QFileInfo(path).fileName();
    }
    daySummary->setText(phrase(strings::Exported).arg(written.join(QLatin1String(", "))));
}

void StatusWindow::setWatching(const QString &allowedSenders, int silentScaleMinutes)
{
    allowed->setText(allowedSenders);
    silentMinutes->setValue(silentScaleMinutes);
}

void StatusWindow::showEntryProblem(const QString &text)
{
    entryProblem->setText(text);
    entryProblem->setVisible(!text.isEmpty());
}

void StatusWindow::showSource(const QString &text)
{
    source->setText(text);
    source->setVisible(!text.isEmpty());
}

void StatusWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    Q_EMIT refreshWanted();
    refresh.start();
}

void StatusWindow::hideEvent(QHideEvent *event)
{
    refresh.stop();
    QWidget::hideEvent(event);
}
