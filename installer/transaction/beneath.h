#ifndef ZARVO_TRANSACTION_BENEATH_H
#define ZARVO_TRANSACTION_BENEATH_H

#include "installer/administration/descriptor.h"

#include <QByteArray>
#include <QByteArrayList>

#include <sys/stat.h>

// Work on entries below a directory held open, by names relative to it,
// never following a symbolic link: a link is moved or deleted as the link it
// is. Failures return false (or -1) with errno set.
namespace Beneath {

using Administration::Descriptor;

// The directory at `relative` below `root` ("" or "." is root itself);
// invalid when a component is missing, not a directory, or a link.
Descriptor openDirectory(int root, const QByteArray &relative);

// The names in the directory `relative` below `root`, sorted, without "."
// and ".."; `ok` tells whether it could be read.
QByteArrayList sortedNames(int root, const QByteArray &relative, bool *ok);
// The same for an open directory, which is not opened again.
QByteArrayList sortedNames(int directory, bool *ok);

// The parent part and the last component of a relative path.
QByteArray parentOf(const QByteArray &relative);
QByteArray nameOf(const QByteArray &relative);

// A directory held open (not owned) that relative paths start from. The
// directory that holds the entry last worked on stays open, since the
// entries of one directory usually come in a row; moving or deleting a
// directory forgets it.
class Root
{
public:
    explicit Root(int fd) : m_fd(fd) {}
    int fd() const { return m_fd; }
    // The directory holding `relative` and its last name; -1 with errno set.
    int parentOf(const QByteArray &relative, QByteArray *name);
    void forget();

private:
    int m_fd;
    bool m_kept = false;
    QByteArray m_keptPath;
    Descriptor m_keptDirectory;
};

// lstat of `relative` below `root`; false when it does not exist there
// (reached without following links).
bool status(Root &root, const QByteArray &relative, struct stat *st);

// Creates the directories of `relative` below `root` that are missing (mode
// 0700: they only hold what is moved into them).
bool makeDirectories(Root &root, const QByteArray &relative);

// Renames `from` below `fromRoot` to `to` below `toRoot` (same file system).
// A directory of this user without write permission gets it for the move
// (the system must rewrite its ".." entry) and is given its mode back.
bool move(Root &fromRoot, const QByteArray &from, Root &toRoot, const QByteArray &to);

// Deletes `relative` below `root` with everything in it. Directories that
// forbid deleting their entries are opened up first; nothing outside is
// touched. A missing entry is no failure.
bool removeTree(Root &root, const QByteArray &relative);

// Sets mode and times of the directory `relative` below `root` (null times
// leave them).
bool setDirectoryAttributes(Root &root, const QByteArray &relative, mode_t mode,
                            const struct timespec *times);

// Gives the directory `relative` below `root` its owner's write permission
// when it lacks it, so that entries can be moved in and out; the caller
// knows the mode to put back.
void lendWritePermission(Root &root, const QByteArray &relative);

// Makes the directory's entries durable.
bool syncDirectory(int fd);

} // namespace Beneath

#endif
