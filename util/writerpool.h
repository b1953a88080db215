#ifndef ZARVO_UTIL_WRITERPOOL_H
#define ZARVO_UTIL_WRITERPOOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A few threads that write files while the thread that hands the work out
// goes on deciding, in order, what is written where. Jobs begin in the order
// they were added; the caller waits for them one by one, in that order too.
class WriterPool
{
public:
    struct Job
    {
        std::function<void()> work;
        bool begun = false;
        bool ended = false;
    };

    explicit WriterPool(int writers);
    // Lets no further job begin and waits for those begun.
    ~WriterPool();
    WriterPool(const WriterPool &) = delete;
    WriterPool &operator=(const WriterPool &) = delete;

    std::shared_ptr<const Job> add(std::function<void()> work);
    // Waits until `job` has ended; false when it was never begun because the
    // pool was stopped first.
    bool wait(const Job &job);
    bool hasEnded(const Job &job);
    // From now on no job begins; those begun end as they would.
    void stop();

    // The file system types on which each file costs round trips to a server,
    // so that writing many files at once pays: from statfs's f_type.
    static bool isNetworkFileSystem(long type);
    static int writersFor(int fd);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_ended;
    std::deque<std::shared_ptr<Job>> m_queue;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

#endif
