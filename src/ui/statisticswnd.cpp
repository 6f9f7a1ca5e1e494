#include "ui/statisticswnd.h"

#include "data/logstatistics.h"
#include "platform/fileops.h"
#include "ui/clientchooser.h"
#include "ui/statisticschart.h"
#include "ui/statisticsloader.h"
#include "ui/systemtray.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace vantrel {

namespace {

constexpr int kSettleMs = 300;

// The table's rows, in order.
constexpr const char* kTotalLabels[] = {
    "Results",          "Processor hours", "First result", "Last result", "Average per day, last 7 days",
    "Average per day, last 30 days",
};

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

// "1 row", "2 rows".
QString Count(std::uint64_t n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + Text(n == 1 ? one : many);
}

QString FileNames(const std::vector<std::string>& paths) {
    QStringList names;
    for (const std::string& path : paths)
        names << PathToQString(platform::FileNamePart(path));
    return names.join(QStringLiteral(", "));
}

} // namespace

CStatisticsWnd::CStatisticsWnd(std::string programDir, IUserPrompts& prompts, QWidget* parent, Clock now)
    : QWidget(parent, Qt::Window), m_strProgramDir(std::move(programDir)), m_prompts(prompts),
      m_now(now ? std::move(now) : [] { return std::time(nullptr); }), m_statistics(std::make_unique<LogStatistics>()) {
    setWindowTitle(Text(kStatisticsTitle));
    setWindowIcon(LoadApplicationIcon());
    BuildLayout();
    m_loader = new CStatisticsLoader([this](const LogStatistics& statistics) { Show(statistics); }, this);
    m_watcher = new QFileSystemWatcher(this);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { OnFilesChanged(); });
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { OnFilesChanged(); });
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        if (FileSignature() != m_lastSignature)
            Reload();
    });
    connect(m_withBackups, &QCheckBox::toggled, this, [this] { Reload(); });
    Reload();
}

CStatisticsWnd::~CStatisticsWnd() = default;

void CStatisticsWnd::BuildLayout() {
    m_chartView = new QChartView(BuildStatisticsChart({}));
    m_chartView->setObjectName(QStringLiteral("chart"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setMinimumSize(640, 320);

    m_totals = new QTableWidget(static_cast<int>(std::size(kTotalLabels)), 1);
    m_totals->setObjectName(QStringLiteral("totals"));
    m_totals->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_totals->horizontalHeader()->hide();
    m_totals->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < m_totals->rowCount(); ++row) {
        m_totals->setVerticalHeaderItem(row, new QTableWidgetItem(Text(kTotalLabels[row])));
        m_totals->setItem(row, 0, new QTableWidgetItem);
    }
    m_totals->resizeColumnsToContents();
    m_totals->setFixedHeight(m_totals->verticalHeader()->length() + 2 * m_totals->frameWidth());

    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);

    m_withBackups = new QCheckBox(Text("Include backups"));
    m_withBackups->setObjectName(QStringLiteral("includeBackups"));
    m_savePng = new QPushButton(Text("Save as PNG"));
    m_savePng->setObjectName(QStringLiteral("saveAsPng"));
    m_copyCsv = new QPushButton(Text("Copy as CSV"));
    m_copyCsv->setObjectName(QStringLiteral("copyAsCsv"));
    auto* close = new QPushButton(Text("Close"));
    connect(m_savePng, &QPushButton::clicked, this, [this] { OnSaveAsPng(); });
    connect(m_copyCsv, &QPushButton::clicked, this, [this] { CopyChartData(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_withBackups);
    buttons->addStretch();
    buttons->addWidget(m_savePng);
    buttons->addWidget(m_copyCsv);
    buttons->addWidget(close);

    auto* main = new QVBoxLayout(this);
    main->addWidget(m_chartView, 1);
    main->addWidget(m_totals);
    main->addWidget(m_status);
    main->addLayout(buttons);
    resize(860, 600);
}

void CStatisticsWnd::Reload() {
    std::vector<std::string> files = FindLogFiles(m_strProgramDir, m_withBackups->isChecked());
    m_lastSignature = FileSignature();
    WatchFiles();
    m_status->setText(files.empty() ? StatusText() : Text("Reading %1 ...").arg(FileNames(files)));
    m_loader->Load(std::move(files));
}

bool CStatisticsWnd::IsLoading() const {
    return m_loader->IsLoading();
}

void CStatisticsWnd::Show(const LogStatistics& statistics) {
    *m_statistics = statistics;
    QChart* old = m_chartView->chart();
    m_chartView->setChart(BuildStatisticsChart(*m_statistics));
    delete old;
    ShowTotals();
    m_status->setText(StatusText());
    const bool any = !m_statistics->Days.empty();
    m_savePng->setEnabled(any);
    m_copyCsv->setEnabled(any);
    Q_EMIT statisticsShown();
}

void CStatisticsWnd::ShowTotals() {
    const LogStatistics& s = *m_statistics;
    const std::int32_t today = LocalDay(m_now());
    const QString values[] = {
        QString::number(s.Results),
        QString::number(s.CpuSeconds / 3600.0, 'f', 1),
        s.First ? QString::fromStdString(FormatLogTime(*s.First)) : QString(),
        s.Last ? QString::fromStdString(FormatLogTime(*s.Last)) : QString(),
        s.First ? QString::number(s.AveragePerDay(today, 7), 'f', 2) : QString(),
        s.First ? QString::number(s.AveragePerDay(today, 30), 'f', 2) : QString(),
    };
    for (int row = 0; row < m_totals->rowCount(); ++row)
        m_totals->item(row, 0)->setText(values[row]);
}

QString CStatisticsWnd::StatusText() const {
    const LogStatistics& s = *m_statistics;
    if (s.FilesRead.empty() && s.FilesFailed.empty())
        return Text("No result log yet: ORVALog.csv is written while \"Create ORVALog.csv\" is on.");
    QString text;
    if (!s.FilesRead.empty())
        text = Text("%1 from %2.").arg(Count(s.Results, "result", "results"), FileNames(s.FilesRead));
    if (s.SkippedRows > 0)
        text += Text(" Skipped %1 that could not be read.").arg(Count(s.SkippedRows, "row", "rows"));
    if (!s.FilesFailed.empty())
        text += Text(" Could not read %1.").arg(FileNames(s.FilesFailed));
    return text.trimmed();
}

QString CStatisticsWnd::TotalText(const QString& label) const {
    for (int row = 0; row < m_totals->rowCount(); ++row)
        if (m_totals->verticalHeaderItem(row)->text() == label)
            return m_totals->item(row, 0)->text();
    return {};
}

QChart* CStatisticsWnd::Chart() const {
    return m_chartView->chart();
}

bool CStatisticsWnd::SaveChartImage(const QString& path) const {
    return m_chartView->grab().save(path, "PNG");
}

void CStatisticsWnd::CopyChartData() const {
    QGuiApplication::clipboard()->setText(QString::fromStdString(FormatStatisticsCsv(*m_statistics)));
}

void CStatisticsWnd::OnSaveAsPng() {
    QString path = m_prompts.AskSaveFileName(this, Text("Vantrel - Save Chart as PNG"),
                                             QDir::home().filePath(QStringLiteral("vantrel-statistics.png")),
                                             Text("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        path += QStringLiteral(".png");
    if (!SaveChartImage(path))
        m_prompts.ShowMessage(this, EMessageKind::Error, Text("The chart could not be saved as %1.").arg(path));
}

void CStatisticsWnd::OnFilesChanged() {
    // A file the watcher lost (the log renamed to its backup, then written anew) is watched again.
    WatchFiles();
    m_settle.start();
}

std::vector<std::string> CStatisticsWnd::FileSignature() const {
    std::vector<std::string> signature;
    for (const std::string& file : FindLogFiles(m_strProgramDir, m_withBackups->isChecked())) {
        auto size = platform::FileSize(file);
        auto written = platform::LastWriteTime(file);
        signature.push_back(file + '\n' + std::to_string(size.value_or(0)) + '\n' +
                            std::to_string(written.value_or(0)));
    }
    return signature;
}

void CStatisticsWnd::WatchFiles() {
    QStringList paths{PathToQString(m_strProgramDir)};
    for (const std::string& file : FindLogFiles(m_strProgramDir, m_withBackups->isChecked()))
        paths << PathToQString(file);
    QStringList watched = m_watcher->files() + m_watcher->directories();
    paths.removeIf([&watched](const QString& path) { return watched.contains(path); });
    if (!paths.isEmpty())
        m_watcher->addPaths(paths);
}

} // namespace vantrel
