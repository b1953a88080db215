#ifndef ZARVO_UTIL_TAR_H
#define ZARVO_UTIL_TAR_H

#include "util/treepermissions.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <sys/types.h>

struct archive;
struct archive_entry;
class EntryPathCheck;
class GzipStream;
class FileDescriptor;

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

    // The directory written is a staging directory that becomes
    // `destination` later: status lines and messages name paths below
    // `destination`, and a tree copy skips or refuses the source's
    // directories by it, not by the staging directory.
    void setStaging(const QString &staging, const QString &destination);

    // Called by the counts for every entry to be written: its type (S_IFREG,
    // S_IFDIR or S_IFLNK, links as the copy leaves them) and size (a link's:
    // its target's length; a hard link is not reported).
    using EntryCounter = std::function<void(mode_t type, qint64 size)>;
    void setEntryCounter(const EntryCounter &counter) { m_entryCounter = counter; }

    // With hashing on, the content hash (ContentHash's text) of every regular
    // file written, computed while its data passed, by its path relative to
    // the destination of the copy or extraction.
    void setHashing(bool on) { m_hashing = on; }
    const QHash<QByteArray, QByteArray> &contentHashes() const { return m_hashes; }

    // Whether each file's data starts on its way to disk as soon as the file
    // is complete (the default), so that a flush before the commit has less
    // to wait for.
    void setWriteBack(bool on) { m_writeBack = on; }

    // How many files a tree copy writes at once. By default (-1) that depends
    // on the destination's file system: many on a network one, where each file
    // waits for a server, one on a local disk. 0 or 1 writes them one after
    // another on the calling thread. Signals keep the order of the entries.
    void setWriters(int writers) { m_writers = writers; }

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
        // Length of the destination's path and its "/", taken off a path
        // below it to give the relative path.
        int topLength = 0;
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
        QByteArray name;
        QByteArray path;
    };
    enum class CopyOutcome { Copied, Failed, DiskFull, Cancelled };
    using Directory = std::shared_ptr<const FileDescriptor>;
    // One file to copy, with the directories it lies in kept open until it
    // has been written.
    struct FileCopy
    {
        Place from;
        Place to;
        Directory keepFrom;
        Directory keepTo;
        mode_t umask;
        int topLength;
    };
    // What the user is told, in the order of the entries it concerns.
    enum class Said { Status, Error, Progress, Cancelled };
    struct Report
    {
        Said kind;
        QString text;
        int value;
    };
    struct Step;
    struct Ordering;
    struct EntryFile;

    // Emits cancelled() when a cancel was requested.
    bool stopRequested();
    int countTree(int directory, const QByteArray &path, TreeWalk &walk);
    bool copyTree(const Directory &source, const QByteArray &sourcePath,
                  const Directory &destination, const QByteArray &destinationPath,
                  TreeWalk &walk);
    bool copySubdirectory(const Place &from, const Place &to, const DirectoryId &id,
                          TreeWalk &walk);
    QString copyingText(const FileCopy &copy) const;
    // Writes one file, on whichever thread: what is to be said goes into
    // `step`, nothing is emitted.
    CopyOutcome copyOneFile(const FileCopy &copy, Step &step) const;
    // Hands a file to the writers (or copies it now) in its place in the order.
    bool handOut(FileCopy copy, int progress);
    // Says `text` now, or after the files handed out before have been written.
    void report(Said kind, const QString &text = QString(), int value = 0);
    void tell(const Report &report);
    // Tells what the steps done say, in order, leaving at most `keep` steps
    // outstanding; false once a step has ended the copy.
    bool settle(size_t keep);
    // A path written, as the user is to see it, and the length it will have
    // once the staging directory has become the destination.
    QString shown(const QByteArray &path) const;
    int finalLength(const QByteArray &path) const;
    void countEntry(mode_t type, qint64 size) const
    {
        if (m_entryCounter)
            m_entryCounter(type, size);
    }
    bool extractEntries(archive *reader, archive *writer, const GzipStream &stream,
                        const QString &archivePath, const QString &destination, int total);
    bool extractEntry(archive *reader, archive *writer, archive_entry *entry,
                      const QString &archivePath, const QString &destination,
                      const QString &shownDestination, EntryPathCheck &check, int progress);
    // Reads a small file's data and hands it to the writers; false when it
    // is to be extracted here after all.
    bool handOutEntry(archive *reader, archive_entry *entry, const QByteArray &relative,
                      const QString &path, const QString &name, const QString &archivePath,
                      int progress, bool *ok);
    Directory parentOf(const QByteArray &relative);
    CopyOutcome writeEntry(const EntryFile &file, Step &step) const;
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
    QByteArray m_staging;
    QString m_shownDestination;
    EntryCounter m_entryCounter;
    bool m_hashing = false;
    bool m_writeBack = true;
    QHash<QByteArray, QByteArray> m_hashes;
    int m_writers = -1;
    std::unique_ptr<Ordering> m_ordering;
};

#endif
