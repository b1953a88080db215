#ifndef ZARVO_UTIL_TAR_H
#define ZARVO_UTIL_TAR_H

#include <QObject>
#include <QString>

#include <atomic>
#include <vector>

#include <sys/types.h>

struct archive;
struct archive_entry;
class EntryPathCheck;

// Counts, copies and extracts the installation on behalf of the install
// thread. Works synchronously on the calling thread and reports only through
// its signals; cancel() may be called from any thread.
class Tar : public QObject
{
    Q_OBJECT

public:
    explicit Tar(QObject *parent = nullptr);
    ~Tar() override;

    // Directory tree (tar.cpp)
    int countFiles(const QString &directory);
    bool copyDirectory(const QString &source, const QString &destination, int total,
                       int *done = nullptr);
    bool copyFile(const QString &source, const QString &destination);

    // Archive (tararchive.cpp)
    int countArchiveEntries(const QString &archive);
    bool extract(const QString &archive, const QString &destination, int total);

    QString lastError() const { return m_lastError; }
    bool isCancelRequested() const { return cancelRequested.load(); }

public slots:
    void cancel();

signals:
    void cancelled();
    void error(const QString &error);
    void status(const QString &text);
    void progress(int progress);

private slots:
    void noteError(const QString &error);

private:
    // The directories from the top of a descent down to the current one, so
    // that a link back to one of them is not followed for ever.
    struct DescentStep
    {
        dev_t device;
        ino_t inode;
        QString path;
    };
    using DescentPath = std::vector<DescentStep>;
    enum class CopyOutcome { Copied, Failed, DiskFull };

    int countTree(const QString &directory, DescentPath &descent);
    bool copyTree(const QString &source, const QString &destination, int total, int &done,
                  mode_t umask, DescentPath &descent);
    CopyOutcome copyOneFile(const QString &source, const QString &destination, mode_t umask);
    bool extractEntry(archive *reader, archive *writer, archive_entry *entry,
                      const QString &archivePath, const QString &destination,
                      EntryPathCheck &check);
    // Pushes directory onto descent unless it is already on it; false for a
    // link back to an ancestor (then *ancestor names it).
    static bool enterDirectory(const QString &directory, DescentPath &descent,
                               QString *ancestor = nullptr);

    QString m_lastError;
    std::atomic<bool> cancelRequested;
};

#endif
