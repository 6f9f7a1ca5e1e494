#pragma once

#include "data/logstatistics.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

class QThread;

namespace vantrel {

// Reads result logs on a worker thread, so the window that shows them never waits for a long log.
// Belongs to one thread (the dialog's); the result is handed back on it.
class CStatisticsLoader final : public QObject {
public:
    using LoadedHandler = std::function<void(const LogStatistics&)>;

    explicit CStatisticsLoader(LoadedHandler onLoaded, QObject* parent = nullptr);
    // Tells every read to stop and waits for its thread.
    ~CStatisticsLoader() override;
    CStatisticsLoader(const CStatisticsLoader&) = delete;
    CStatisticsLoader& operator=(const CStatisticsLoader&) = delete;

    // Reads the files in this order. A read still running is told to stop and its result is
    // dropped: only the newest request is answered.
    void Load(std::vector<std::string> files);
    bool IsLoading() const { return m_current != nullptr; }

private:
    struct CJob {
        std::vector<std::string> files;
        std::atomic<bool> stop{false};
        LogStatistics result; // written by the worker, read after it has finished
    };
    struct CRunning {
        std::unique_ptr<QThread> thread;
        std::shared_ptr<CJob> job;
    };

    void OnFinished(CJob* job);

    LoadedHandler m_onLoaded;
    std::list<CRunning> m_running;
    CJob* m_current = nullptr; // the job whose result is wanted
};

} // namespace vantrel
