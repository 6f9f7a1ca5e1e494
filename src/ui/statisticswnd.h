#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QChart;
class QChartView;
class QCheckBox;
class QFileSystemWatcher;
class QLabel;
class QPushButton;
class QTableWidget;

namespace vantrel {

class CStatisticsLoader;
class IUserPrompts;
struct LogStatistics;

inline constexpr const char* kStatisticsTitle = "Vantrel - Statistics";

// The user's contribution drawn from the result log: results per day as bars, processor hours per
// result as a line, and a table of totals. Not modal; reads on a worker thread and follows the
// log as rows are added. Never writes a log.
class CStatisticsWnd final : public QWidget {
    Q_OBJECT
public:
    using Clock = std::function<std::time_t()>;

    CStatisticsWnd(std::string programDir, IUserPrompts& prompts, QWidget* parent = nullptr, Clock now = {});
    ~CStatisticsWnd() override;

    // Reads the log (and its backups when asked) afresh.
    void Reload();
    bool IsLoading() const;
    // The figures last shown.
    const LogStatistics& Statistics() const { return *m_statistics; }
    // The line under the chart: what was read, and how many rows were skipped.
    QString StatusText() const;
    // The totals table's value for one row label ("Results", "First result", ...); empty when none.
    QString TotalText(const QString& label) const;
    QChart* Chart() const;

    // "Save as PNG" and "Copy as CSV".
    bool SaveChartImage(const QString& path) const;
    void CopyChartData() const;

Q_SIGNALS:
    // New figures are shown.
    void statisticsShown();

private:
    void BuildLayout();
    void Show(const LogStatistics& statistics);
    void ShowTotals();
    void OnSaveAsPng();
    // The log's files changed on disk (rather than the program directory at large): reload.
    void OnFilesChanged();
    // What the log files are now, so a change elsewhere in the directory reads nothing again.
    std::vector<std::string> FileSignature() const;
    void WatchFiles();

    std::string m_strProgramDir;
    IUserPrompts& m_prompts;
    Clock m_now;
    std::unique_ptr<LogStatistics> m_statistics; // the data layer's headers are no food for moc
    std::vector<std::string> m_lastSignature;

    QCheckBox* m_withBackups = nullptr;
    QChartView* m_chartView = nullptr;
    QTableWidget* m_totals = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_savePng = nullptr;
    QPushButton* m_copyCsv = nullptr;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer m_settle; // changes come in bursts (a row, an upgrade): read once they settle
    CStatisticsLoader* m_loader = nullptr;
};

} // namespace vantrel
