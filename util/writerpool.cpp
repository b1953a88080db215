#include "util/writerpool.h"

#include <sys/vfs.h>

namespace {

// Measured on a file system answering after 0.5 ms: 16 writers take a tree
// in a quarter of the time of one, more gain little.
constexpr int networkWriters = 16;

} // namespace

WriterPool::WriterPool(int writers)
{
    for (int i = 0; i < writers; ++i)
        m_threads.emplace_back([this] { run(); });
}

WriterPool::~WriterPool()
{
    stop();
    for (std::thread &thread : m_threads)
        thread.join();
}

std::shared_ptr<const WriterPool::Job> WriterPool::add(std::function<void()> work)
{
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(job);
    }
    m_work.notify_one();
    return job;
}

bool WriterPool::wait(const Job &job)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ended.wait(lock, [&] { return job.ended || (m_stopped && !job.begun); });
    return job.begun;
}

bool WriterPool::hasEnded(const Job &job)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return job.ended;
}

void WriterPool::stop()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        m_queue.clear();
    }
    m_work.notify_all();
    m_ended.notify_all();
}

void WriterPool::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_stopped || !m_queue.empty(); });
        if (m_stopped)
            return;
        const std::shared_ptr<Job> job = m_queue.front();
        m_queue.pop_front();
        job->begun = true;
        lock.unlock();
        job->work();
        lock.lock();
        job->ended = true;
        m_ended.notify_all();
    }
}

bool WriterPool::isNetworkFileSystem(long type)
{
    switch (static_cast<unsigned long>(type) & 0xffffffffUL) {
    case 0x6969: // NFS
    case 0x517b: // SMB
    case 0xff534d42: // CIFS
    case 0xfe534d42: // SMB2
    case 0x0bd00bd0: // Lustre
    case 0x47504653: // GPFS
    case 0x19830326: // BeeGFS
    case 0x00c36400: // CephFS
    case 0x01021997: // 9p
    case 0x65735546: // FUSE
        return true;
    default:
        return false;
    }
}

int WriterPool::writersFor(int fd)
{
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return 0;
    return isNetworkFileSystem(long(fs.f_type)) ? networkWriters : 0;
}
