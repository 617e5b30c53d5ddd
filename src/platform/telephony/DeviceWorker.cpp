#include "platform/telephony/DeviceWorker.h"

CDeviceWorker::CDeviceWorker()
    : m_thread([this] { Run(); })
{
}

CDeviceWorker::~CDeviceWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CDeviceWorker::Enqueue(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_all();
}

void CDeviceWorker::Run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bStopping || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}
