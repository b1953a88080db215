#ifndef ZARVO_ADMINISTRATION_INSTALLEDTREE_H
#define ZARVO_ADMINISTRATION_INSTALLEDTREE_H

#include "installer/administration/descriptor.h"

#include <string>
#include <vector>

#include <sys/stat.h>

namespace Administration {

// An installation's directory, held open. Its entries are reached by paths
// relative to it, one directory at a time, never through a symbolic link: a
// link is examined or removed as the link it is, and whatever it leads to is
// out of reach. Failures return false (or an empty string) with errno set.
class InstalledTree
{
public:
    // Opens `directory`; a link on the way there is followed, since the
    // user named it.
    bool open(const std::string &directory);
    int fd() const { return m_top.get(); }

    // lstat of `path`; false when nothing is there.
    bool status(const std::string &path, struct stat *st);
    // The content hash of the regular file at `path`.
    std::string hash(const std::string &path);
    bool readLink(const std::string &path, std::string *target);
    // The sorted names in the directory `path` ("" for the top).
    bool names(const std::string &path, std::vector<std::string> *names);

    // Removes the entry at `path` (a directory only when it is empty); one
    // that is already gone is no failure. A directory of this user that
    // forbids removing its entries is lent the permission for the moment.
    bool remove(const std::string &path, bool directory);
    // Removes `path` with everything below it.
    bool removeAll(const std::string &path);
    // Replaces the file `name` at the top with `contents` in one step,
    // written first as `temporary`.
    bool replaceFile(const std::string &name, const std::string &temporary,
                     const std::string &contents);

private:
    // The directory holding `path`, and its last name; -1 when it cannot be
    // reached. The last one stays open: entries of one directory come in a row.
    int parentOf(const std::string &path, std::string *name);

    Descriptor m_top;
    std::string m_keptPath;
    Descriptor m_kept;
};

// The content hash of what `fd` reads to its end: XXH3, 128 bits, as
// "xxh128:" and 32 hexadecimal digits; empty, with errno set, when reading fails.
std::string contentHash(int fd);

} // namespace Administration

#endif
