#ifndef ZARVO_TESTS_ENGINETESTSUPPORT_H
#define ZARVO_TESTS_ENGINETESTSUPPORT_H

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <thread>

class Installer;
class InstallThread;

// The reports of one installation in the order the user-interface thread
// received them: "status: ...", "progress: 50", "error: ...", "cancelled",
// "finished".
class SignalLog : public QObject
{
public:
    void watch(InstallThread *thread);
    void watch(Installer *installer);

    QStringList entries;
    int count(const QString &entry) const { return entries.count(entry); }
    QStringList withPrefix(const QString &prefix) const;
    // The status lines of the install thread itself, without Tar's per-entry ones.
    QStringList runStatuses() const;
};

// Delivers what the worker has posted: its own reports make one queued hop,
// those of Tar two.
void deliverPostedReports();

// Polls condition until it holds or timeoutMs pass; for helper threads.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);

bool writeFile(const QString &path, const QByteArray &data);
bool makeFifo(const QString &path);

// Puts a fake "ldd" first on PATH. It waits (at most 10 s) until `release`
// exists, appends its argument to `log`, and then prints one missing library
// for each name in `missing` of the program whose path ends in its key.
bool installFakeLdd(const QString &directory, const QString &release, const QString &log,
                    const QList<QPair<QString, QStringList>> &missing);

// Plays the other end of a named pipe (or of a file a fake tool waits for) on
// its own thread, so that the worker blocks in the middle of a copy, an
// extraction or a scan until the test lets it go.
class FifoPeer
{
public:
    FifoPeer() = default;
    ~FifoPeer() { join(); }
    FifoPeer(const FifoPeer &) = delete;
    FifoPeer &operator=(const FifoPeer &) = delete;

    // Waits for `release` (at most 10 s), then reads the pipe to its end.
    void drainAfter(const QString &fifo, std::function<bool()> release);
    // Writes `passes` copies of data through the pipe, each to its own reader
    // (the pipe is replaced by a new one between passes); the last pass stops
    // halfway until `release` holds (at most 10 s).
    void feed(const QString &fifo, const QByteArray &data, int passes,
              std::function<bool()> release);
    // Creates an empty file once `release` holds (or 10 s passed).
    void touchAfter(const QString &file, std::function<bool()> release);
    // Holds a lease on a regular file of this process's user, so that opening
    // it waits until `release` holds (at most 10 s). False when refused.
    bool leaseUntil(const QString &file, std::function<bool()> release);

    void join();
    qint64 bytesDrained() const { return m_drained; }
    bool releasedInTime() const { return m_released; }

private:
    std::thread m_thread;
    qint64 m_drained = 0;
    bool m_released = false;
};

#endif
