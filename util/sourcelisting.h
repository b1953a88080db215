#ifndef ZARVO_UTIL_SOURCELISTING_H
#define ZARVO_UTIL_SOURCELISTING_H

#include <QByteArray>
#include <QString>

#include <vector>

#include <sys/types.h>

// One entry of a directory of an unpacked installation tree.
struct ListedEntry
{
    QByteArray name;
    QString sortKey;
    bool isDirectory;
    dev_t device;
    ino_t inode;
    // Bytes of a file, links followed.
    qint64 size;
    // Why the entry's type could not be learnt; 0 when it was.
    int error;
};

// The toolkit's default listing of an open directory, made from the stored
// names: directories and files (links followed) without hidden entries,
// broken links or special files, by name regardless of case. The toolkit
// itself would decode each name and could then no longer open one that is
// not valid in its encoding. 0, or why the directory cannot be read; an
// entry that cannot be examined is listed with its error. This is what a
// tree copy installs.
int listDirectory(int directory, std::vector<ListedEntry> *entries);

#endif
