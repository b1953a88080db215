#ifndef ZARVO_UTIL_TARORDERING_H
#define ZARVO_UTIL_TARORDERING_H

// Tar's own: how files written by the pool are told in order.

#include "util/filedescriptor.h"
#include "util/tar.h"
#include "util/writerpool.h"

#include <QHash>

#include <deque>
#include <utility>

// An entry of a copy or extraction: what it says, and for a file, how its
// writing went.
struct Tar::Step
{
    std::vector<Report> said;
    // A file's; none for what the ordering thread itself did.
    std::shared_ptr<const WriterPool::Job> job;
    bool isFile = false;
    CopyOutcome outcome = CopyOutcome::Copied;
    // Told once the file is written, unless it stopped the copy.
    int progress = -1;
    QByteArray hashKey;
    QByteArray hash;
    // An extracted file's path below the destination, held until it is told.
    QByteArray held;
};

// One copy's or extraction's entries not yet told, oldest first.
struct Tar::Ordering
{
    Ordering(int writers, bool extraction)
        : limit(size_t(writers) * 4)
        , extraction(extraction)
    {
        if (writers > 1)
            pool = std::make_unique<WriterPool>(writers);
    }

    // The paths of files handed out and not yet told, and the directories
    // on their way: an entry that would touch one waits for them.
    void hold(const QByteArray &path, int count)
    {
        files[path] += count;
        places[path] += count;
        for (int slash = path.lastIndexOf('/'); slash > 0; slash = path.lastIndexOf('/', slash - 1))
            places[path.left(slash)] += count;
    }
    bool touchesHeld(const QByteArray &path, const QByteArray &hardLinkTarget) const
    {
        if (places.value(path) > 0 || files.value(hardLinkTarget) > 0)
            return true;
        for (int slash = path.lastIndexOf('/'); slash > 0; slash = path.lastIndexOf('/', slash - 1)) {
            if (files.value(path.left(slash)) > 0)
                return true;
        }
        return false;
    }

    std::deque<std::unique_ptr<Step>> steps;
    // After the steps, so that its writers are gone before the steps they fill.
    std::unique_ptr<WriterPool> pool;
    size_t limit;
    // An extraction stops at a file that failed, a tree copy goes on. An
    // extraction's files are small and may have been announced already, so
    // a cancel lets those handed out be written; a tree copy's are told
    // only once written, so a cancel lets no further one begin.
    bool extraction;
    bool stopped = false;
    QHash<QByteArray, int> files;
    QHash<QByteArray, int> places;
    // An extraction's destination, and the directory of its last file.
    mode_t umask = 0;
    Directory top;
    QByteArray parentPath;
    Directory parent;
};

// One extracted file to be written by the pool, its data read already.
struct Tar::EntryFile
{
    Directory parent;
    QByteArray fileName;
    // As the user sees them: the stored name and the path written.
    QString name;
    QString path;
    std::vector<std::pair<qint64, QByteArray>> blocks;
    qint64 size;
    mode_t mode;
    mode_t umask;
    struct timespec times[2];
};

#endif
