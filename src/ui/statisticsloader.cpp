#include "ui/statisticsloader.h"

#include <QThread>
#include <new>

namespace vantrel {

CStatisticsLoader::CStatisticsLoader(LoadedHandler onLoaded, QObject* parent)
    : QObject(parent), m_onLoaded(std::move(onLoaded)) {}

CStatisticsLoader::~CStatisticsLoader() {
    for (CRunning& running : m_running)
        running.job->stop = true;
    for (CRunning& running : m_running)
        running.thread->wait();
}

void CStatisticsLoader::Load(std::vector<std::string> files) {
    if (m_current != nullptr)
        m_current->stop = true;
    auto job = std::make_shared<CJob>();
    job->files = std::move(files);
    std::unique_ptr<QThread> thread(QThread::create([job] {
        CLogStatistics statistics;
        for (const std::string& file : job->files) {
            if (job->stop)
                return;
            // The reader's memory is bounded, but a worker must never end the program: a log that
            // still cannot be held is one that could not be read.
            try {
                statistics.AddLog(file, &job->stop);
            } catch (const std::bad_alloc&) {
                statistics.NoteFailed(file);
            }
        }
        job->result = statistics.Result();
    }));
    thread->setObjectName(QStringLiteral("statistics"));
    // Delivered on this object's thread, once the worker is done with the job.
    connect(thread.get(), &QThread::finished, this, [this, raw = job.get()] { OnFinished(raw); });
    m_current = job.get();
    QThread* started = thread.get();
    m_running.push_back({std::move(thread), std::move(job)});
    started->start();
}

void CStatisticsLoader::OnFinished(CJob* job) {
    for (auto it = m_running.begin(); it != m_running.end(); ++it) {
        if (it->job.get() != job)
            continue;
        it->thread->wait();
        std::shared_ptr<CJob> done = std::move(it->job);
        m_running.erase(it);
        if (job == m_current && !done->stop) {
            m_current = nullptr;
            m_onLoaded(done->result);
        }
        return;
    }
}

} // namespace vantrel
