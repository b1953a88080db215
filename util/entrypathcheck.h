#ifndef ZARVO_UTIL_ENTRYPATHCHECK_H
#define ZARVO_UTIL_ENTRYPATHCHECK_H

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

struct archive_entry;

// Decides, before an archive entry is written below a destination directory,
// whether writing it could touch anything outside that directory: names that
// climb out or are absolute, hard links to such names, paths through a
// symbolic link below the destination, special files, and paths too long to
// be handed to the system. Only the part of a path below the destination is
// judged, so a destination reached through a link or typed with ".." is fine.
// Works on the names' bytes, which need not be valid in any encoding.
class EntryPathCheck
{
public:
    explicit EntryPathCheck(const QByteArray &destination);

    // Where a stored name is written: the destination, "/" and the name.
    QByteArray pathBelow(const QByteArray &storedName) const;

    // Empty when the entry may be written, otherwise why not (translated).
    // Call once per entry, in archive order, right before writing it.
    QString refusal(archive_entry *entry);

private:
    // Why walking down the first `count` of `components` from the
    // destination would pass through a symbolic link; empty when it would not.
    QString linkOnTheWay(const QByteArrayList &components, int count);

    QByteArray m_destination;
    // The components of a directory below the destination known to have no
    // symbolic link on its way down, so that most entries need no look-up.
    QByteArrayList m_verified;
};

#endif
