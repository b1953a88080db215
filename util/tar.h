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

    // Directory tree (tar.cpp)
    int countFiles(const QString &directory);
    // The count of what copyDirectory(directory, destination) copies: when
    // the destination lies inside the tree, it is not counted.
    int countFiles(const QString &directory, const QString &destination);
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
        bool destinationPending = false;
        DirectoryId destination = {};
        int total = 0;
        int *done = nullptr;
        mode_t umask = 0;
    };
    enum class CopyOutcome { Copied, Failed, DiskFull };

    int countTree(const QByteArray &directory, TreeWalk &walk);
    bool copyTree(const QByteArray &source, const QByteArray &destination, TreeWalk &walk);
    CopyOutcome copyOneFile(const QByteArray &source, const QByteArray &destination, mode_t umask);
    bool extractEntry(archive *reader, archive *writer, archive_entry *entry,
                      const QString &archivePath, const QString &destination,
                      EntryPathCheck &check);
    // Pushes the directory onto the descent unless it is already on it; false
    // for a link back to an ancestor (then *ancestor names it).
    static bool enterDirectory(const DirectoryId &id, const QByteArray &path, TreeWalk &walk,
                               QByteArray *ancestor = nullptr);
    static void enterTop(const QByteArray &top, TreeWalk &walk);
    static void noteDestination(const QByteArray &destination, TreeWalk &walk);

    QString m_lastError;
    std::atomic<bool> cancelRequested;
    TreePermissions m_permissions;
};

#endif
