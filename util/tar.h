#ifndef ZARVO_UTIL_TAR_H
#define ZARVO_UTIL_TAR_H

#include "util/treepermissions.h"

#include <QByteArray>
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

    // Directory tree (tar.cpp). A count is -1 after a cancel request or a
    // directory or entry that cannot be read (reported through error()).
    int countFiles(const QString &directory);
    // The count of what copyDirectory(directory, destination) copies: when
    // the destination lies inside the tree, it is not counted.
    int countFiles(const QString &directory, const QString &destination);
    // Nothing below `destination` is written through a link: what stands at
    // a file's path is replaced, a link where the tree has a directory too.
    bool copyDirectory(const QString &source, const QString &destination, int total,
                       int *done = nullptr);
    bool copyFile(const QString &source, const QString &destination);

    // Archive (tararchive.cpp)
    int countArchiveEntries(const QString &archive);
    bool extract(const QString &archive, const QString &destination, int total);

    // The modes and group of everything copied or extracted from now on.
    void setPermissions(const TreePermissions &permissions) { m_permissions = permissions; }

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
    struct DirectoryId
    {
        dev_t device;
        ino_t inode;
        bool operator==(const DirectoryId &other) const
        {
            return device == other.device && inode == other.inode;
        }
    };
    // The directories from the top of a descent down to the current one, so
    // that a link back to one of them is not followed for ever.
    struct DescentStep
    {
        DirectoryId id;
        QByteArray path;
    };
    // One count or copy of a tree. Paths are kept as the file system's bytes,
    // which need not be valid in any encoding; they are decoded only to be shown.
    struct TreeWalk
    {
        std::vector<DescentStep> descent;
        // The top-level destination of the copy: never descended into, so that
        // a destination inside the source does not copy itself into itself.
        bool hasDestination = false;
        DirectoryId destination = {};
        int total = 0;
        int *done = nullptr;
        mode_t umask = 0;
    };
    // A name in an open directory (AT_FDCWD for a path), and the path it is
    // shown under. Every file and directory of a tree is reached this way, so
    // that no link on the way down is resolved by the system.
    struct Place
    {
        int directory;
        const char *name;
        QByteArray path;
    };
    enum class CopyOutcome { Copied, Failed, DiskFull, Cancelled };

    // Emits cancelled() when a cancel was requested.
    bool stopRequested();
    int countTree(int directory, const QByteArray &path, TreeWalk &walk);
    bool copyTree(int source, const QByteArray &sourcePath, int destination,
                  const QByteArray &destinationPath, TreeWalk &walk);
    bool copySubdirectory(const Place &from, const Place &to, const DirectoryId &id,
                          TreeWalk &walk);
    CopyOutcome copyOneFile(const Place &from, const Place &to, mode_t umask);
    bool extractEntry(archive *reader, archive *writer, archive_entry *entry,
                      const QString &archivePath, const QString &destination,
                      EntryPathCheck &check);
    // Pushes the directory onto the descent unless it is already on it; false
    // for a link back to an ancestor (then *ancestor names it).
    static bool enterDirectory(const DirectoryId &id, const QByteArray &path, TreeWalk &walk,
                               QByteArray *ancestor = nullptr);
    // The identity of a directory, links followed: of `fd` when it is open,
    // else of `path`. False when it is no directory.
    static bool identifyDirectory(int fd, const QByteArray &path, DirectoryId *id);

    QString m_lastError;
    std::atomic<bool> cancelRequested;
    TreePermissions m_permissions;
};

#endif
