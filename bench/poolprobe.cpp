// What a pool of writers could gain: copies the regular files of a tree (links
// followed, hidden names left out) in one of the shapes the engine could take,
// and prints the wall time. An experiment for choosing the engine's design,
// not the engine: scripts/bench measures that.
//
//   zarvo_poolprobe MODE THREADS SOURCE DESTINATION
//
// serial     one thread, as the engine copies today: open by path, data,
//            close, chmod, utime (THREADS is not used)
// finish     one thread creates each file in its directory (O_EXCL |
//            O_NOFOLLOW, the mode given at creation) and writes the data;
//            THREADS writers set the times and close it
// pool       one thread makes the directories in order and hands each file
//            to THREADS writers, which create, write, set the times and close
// flat       as pool, with every file in the top of DESTINATION (the kernel
//            lets one call at a time create in a directory)

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

enum class Mode { Serial, Finish, Pool, Flat };

struct Job
{
    int directory;     // O_PATH descriptor of the destination directory
    std::string name;  // one component
    std::string source;
    mode_t mode;
    timespec times[2];
    int fd;            // finish: the file, created and written
};

// Jobs for the writers, at most twice as many waiting as there are writers.
class Queue
{
public:
    explicit Queue(size_t limit) : m_limit(limit) {}
    void push(Job job)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_space.wait(lock, [this] { return m_jobs.size() < m_limit; });
        m_jobs.push_back(std::move(job));
        m_ready.notify_one();
    }
    bool pop(Job *job)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return m_closed || !m_jobs.empty(); });
        if (m_jobs.empty())
            return false;
        *job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_space.notify_one();
        return true;
    }
    void close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_ready.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready, m_space;
    std::deque<Job> m_jobs;
    size_t m_limit;
    bool m_closed = false;
};

Mode mode;
Queue *queue = nullptr;
int files = 0;
std::vector<int> directories; // open until the writers are done

void fail(const std::string &what)
{
    std::fprintf(stderr, "zarvo_poolprobe: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void copyData(const std::string &source, int to)
{
    const int from = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        fail(source);
    std::vector<char> buffer(256 * 1024);
    ssize_t got;
    while ((got = read(from, buffer.data(), buffer.size())) > 0)
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = write(to, buffer.data() + put, size_t(got - put));
            if (n < 0)
                fail("write");
            put += n;
        }
    close(from);
}

int createFile(const Job &job)
{
    const int fd = openat(job.directory, job.name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, job.mode);
    if (fd < 0)
        fail(job.name);
    return fd;
}

void finishJob(const Job &job)
{
    const int fd = mode == Mode::Finish ? job.fd : createFile(job);
    if (mode != Mode::Finish)
        copyData(job.source, fd);
    if (futimens(fd, job.times) != 0 || close(fd) != 0)
        fail(job.name);
}

void writer()
{
    Job job;
    while (queue->pop(&job))
        finishJob(job);
}

void copyTree(const std::string &source, const std::string &destination, int directory)
{
    std::vector<std::string> names;
    DIR *stream = opendir(source.c_str());
    if (!stream)
        fail(source);
    while (const dirent *entry = readdir(stream))
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    closedir(stream);
    std::sort(names.begin(), names.end());

    for (const std::string &name : names) {
        const std::string from = source + '/' + name, to = destination + '/' + name;
        struct stat st;
        if (stat(from.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (mode == Mode::Flat) {
                copyTree(from, to, directory);
                continue;
            }
            if (mkdirat(directory, name.c_str(), 0777) != 0)
                fail(to);
            const int inside = openat(directory, name.c_str(),
                                      O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inside < 0)
                fail(to);
            directories.push_back(inside);
            copyTree(from, to, inside);
            continue;
        }
        if (!S_ISREG(st.st_mode))
            continue;
        ++files;
        const mode_t fileMode = (st.st_mode & S_IXUSR) ? 0777 : 0666;
        Job job{directory, mode == Mode::Flat ? std::to_string(files) + '-' + name : name, from,
                fileMode, {st.st_atim, st.st_mtim}, -1};
        if (mode == Mode::Serial) {
            const int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0)
                fail(to);
            copyData(from, fd);
            if (close(fd) != 0 || chmod(to.c_str(), fileMode & ~mode_t(022)) != 0
                || utimensat(AT_FDCWD, to.c_str(), job.times, 0) != 0)
                fail(to);
            continue;
        }
        if (mode == Mode::Finish) {
            job.fd = createFile(job);
            copyData(from, job.fd);
        }
        queue->push(std::move(job));
    }
}

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> names = {"serial", "finish", "pool", "flat"};
    const auto found = argc == 5 ? std::find(names.begin(), names.end(), argv[1]) : names.end();
    const int threads = argc == 5 ? std::atoi(argv[2]) : 0;
    if (found == names.end() || threads < 1) {
        std::fprintf(stderr, "usage: zarvo_poolprobe serial|finish|pool|flat THREADS SOURCE "
                             "DESTINATION\n");
        return 2;
    }
    mode = Mode(found - names.begin());
    umask(022);
    if (mkdir(argv[4], 0777) != 0)
        fail(argv[4]);
    const int top = open(argv[4], O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (top < 0)
        fail(argv[4]);

    const double start = now();
    Queue jobs(2 * size_t(threads));
    queue = &jobs;
    std::vector<std::thread> pool;
    if (mode != Mode::Serial)
        for (int i = 0; i < threads; ++i)
            pool.emplace_back(writer);
    copyTree(argv[3], argv[4], top);
    jobs.close();
    for (std::thread &thread : pool)
        thread.join();
    for (const int directory : directories)
        close(directory);
    std::printf("%-6s %2d writers: %6.2f s, %d files\n", argv[1],
                mode == Mode::Serial ? 0 : threads, now() - start, files);
    return 0;
}
