#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A thread that runs the jobs given to it one after the other, in the order given.
// The destructor lets the queued jobs finish and joins the thread.
class CDeviceWorker
{
public:
    CDeviceWorker();
    ~CDeviceWorker();
    CDeviceWorker(const CDeviceWorker&) = delete;
    CDeviceWorker& operator=(const CDeviceWorker&) = delete;

    void Enqueue(std::function<void()> job);

private:
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_bStopping = false;
    std::thread m_thread;
};
