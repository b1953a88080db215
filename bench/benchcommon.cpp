#include "bench/benchcommon.h"

#include "installer/engine/installer.h"
#include "installer/engine/installthread.h"
#include "installer/engine/userprompt.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Bench {

namespace {

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

TreeSummary *currentSummary = nullptr;

int countEntry(const char *path, const struct stat *st, int type, FTW *ftw)
{
    if (ftw->level > 0 && path[ftw->base] == '.')
        return type == FTW_D ? FTW_SKIP_SUBTREE : FTW_CONTINUE;
    if (type == FTW_F) {
        ++currentSummary->files;
        currentSummary->bytes += st->st_size;
    } else if (type == FTW_D && ftw->level > 0) {
        ++currentSummary->directories;
    }
    return FTW_CONTINUE;
}

int readEntry(const char *path, const struct stat *, int type, FTW *)
{
    if (type != FTW_F)
        return 0;
    static char buffer[1 << 16];
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        while (read(fd, buffer, sizeof buffer) > 0) {
        }
        close(fd);
    }
    return 0;
}

int removeEntry(const char *path, const struct stat *, int type, FTW *)
{
    if (type == FTW_DP)
        rmdir(path);
    else
        unlink(path);
    return 0;
}

// Answers every question No, like a user who keeps the old destination.
class NoPrompt : public UserPrompt
{
public:
    bool askYesNo(QObject *, const QString &, const QString &) override { return false; }
    void tell(QObject *, Severity, const QString &title, const QString &text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
};

} // namespace

RunResult run(const std::vector<std::string> &command, bool captureOutput)
{
    RunResult result;
    char rssFile[] = "/tmp/zarvo-bench-rss-XXXXXX";
    const int rssFd = mkstemp(rssFile);
    if (rssFd < 0)
        return result;
    close(rssFd);
    std::vector<std::string> full = {"/usr/bin/time", "-f", "%M %U %S", "-o", rssFile};
    full.insert(full.end(), command.begin(), command.end());
    std::vector<char *> argv;
    for (std::string &arg : full)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (captureOutput && pipe2(pipeFds, O_CLOEXEC) != 0)
        return result;
    std::fflush(nullptr);
    const double start = now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (captureOutput)
            dup2(pipeFds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (captureOutput) {
        close(pipeFds[1]);
        char buffer[4096];
        ssize_t n;
        while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
            result.output.append(buffer, size_t(n));
        close(pipeFds[0]);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return result;
    result.seconds = now() - start;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (FILE *f = std::fopen(rssFile, "r")) {
        // time prints "Command exited with non-zero status" before the figure.
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            double user = 0, system = 0;
            if (std::sscanf(line, "%ld %lf %lf", &result.rssKb, &user, &system) == 3)
                result.cpuSeconds = user + system;
        }
        std::fclose(f);
    }
    unlink(rssFile);
    return result;
}

TreeSummary summarize(const std::string &root)
{
    TreeSummary summary;
    currentSummary = &summary;
    nftw(root.c_str(), countEntry, 64, FTW_ACTIONRETVAL);
    currentSummary = nullptr;
    return summary;
}

void readTree(const std::string &root)
{
    nftw(root.c_str(), readEntry, 64, 0);
}

void removeTree(const std::string &root)
{
    nftw(root.c_str(), removeEntry, 64, FTW_DEPTH | FTW_PHYS);
}

void makeDirectory(const std::string &path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        std::fprintf(stderr, "cannot create %s: %s\n", path.c_str(), std::strerror(errno));
}

long long fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

std::string slug(const std::string &name)
{
    std::string s;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c)))
            s += c;
    return s;
}

std::string selfPath()
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

int runEngine(const QString &source, const QString &destination, const std::string &without)
{
    InstallThread thread(source, destination);
    thread.setDurable(without != "flush");
    thread.setRecording(without != "record");
    int errors = 0;
    bool finished = false;
    QObject::connect(&thread, &InstallThread::error, &thread, [&errors](const QString &text) {
        ++errors;
        std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QObject::connect(&thread, &InstallThread::installerFinished, &thread,
                     [&finished] { finished = true; });
    QObject::connect(&thread, &QThread::finished, qApp, &QCoreApplication::quit);
    thread.start();
    QCoreApplication::exec();
    return finished && errors == 0 ? 0 : 1;
}

int runStall(const QString &source, const QString &destination)
{
    NoPrompt prompt;
    Installer installer(nullptr, &prompt);
    bool ok = false;
    int lines = 0;
    QString shown; // what a status label would hold
    QObject::connect(&installer, &Installer::status, [&](const QString &text) {
        shown = text;
        ++lines;
    });
    QObject::connect(&installer, &Installer::finished, [&ok] {
        ok = true;
        QCoreApplication::quit();
    });
    QObject::connect(&installer, &Installer::error, [](const QString &text) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        QCoreApplication::quit();
    });
    QObject::connect(&installer, &Installer::cancelled, qApp, &QCoreApplication::quit);

    // A timer that notes how late it fires: the longest time the event loop
    // could not serve the user interface.
    constexpr int interval = 5;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(interval);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 t = clock.nsecsElapsed();
        worst = std::max(worst, t - last - qint64(interval) * 1000000);
        last = t;
    });
    // A second of the idle loop first: how late the timer is anyway on a
    // busy machine, with no installation running.
    qint64 idleWorst = 0;
    qint64 installStart = 0;
    clock.start();
    ticker.start();
    QTimer::singleShot(1000, [&] {
        idleWorst = worst;
        worst = 0;
        installStart = clock.nsecsElapsed();
        installer.install(source, destination);
    });
    QTimer::singleShot(300000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    std::printf("%.1f ms (idle loop: %.1f ms; a %d ms timer, %d status lines, %.2f s)\n",
                double(worst) / 1e6, double(idleWorst) / 1e6, interval, lines,
                double(clock.nsecsElapsed() - installStart) / 1e9);
    return ok ? 0 : 1;
}

} // namespace Bench
