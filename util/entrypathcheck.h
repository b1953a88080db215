#ifndef ZARVO_UTIL_ENTRYPATHCHECK_H
#define ZARVO_UTIL_ENTRYPATHCHECK_H

#include <QByteArray>
#include <QByteArrayList>
#include <QSet>
#include <QString>

struct archive_entry;

// Decides, before an archive entry is written below a destination directory,
// whether writing it could touch anything outside that directory: names that
// climb out or are absolute, hard links to such names or to anything the
// archive has not written before them, paths through a symbolic link that the
// archive made, special files, and paths too long to be handed to the system.
// Only the part of a path below the destination is judged, so a destination
// reached through a link or typed with ".." is fine. Works on the names'
// bytes, which need not be valid in any encoding.
class EntryPathCheck
{
public:
    explicit EntryPathCheck(const QByteArray &destination);

    // Where a stored name is written: the destination, "/" and the name.
    QByteArray pathBelow(const QByteArray &storedName) const;
    // The destination as the user is to see it in a refusal, when the
    // entries are written to a staging directory first.
    void setShownDestination(const QByteArray &shown) { m_shown = shown; }

    // Empty when the entry may be written, otherwise why not (translated).
    // Call once per entry, in archive order, right before writing it. A
    // symbolic link that was in the destination before (an earlier
    // installation's) where the entry needs a directory is removed, never its
    // target, so that the writer makes a real directory there.
    QString refusal(archive_entry *entry);

private:
    // Why walking down the first `count` of `components` from the
    // destination would pass through a symbolic link; empty when it would
    // not. With `stale`, a link that the archive did not make is no reason:
    // its path is left there to be removed.
    QString linkOnTheWay(const QByteArrayList &components, int count,
                         QByteArray *stale = nullptr);

    // A path below the destination as the user is to see it.
    QString shownPath(const QByteArray &path) const;
    // The length a path will have once the entries are at the destination.
    int finalLength(const QByteArray &path) const;

    QByteArray m_destination;
    QByteArray m_shown;
    // The components of a directory below the destination known to have no
    // symbolic link on its way down, so that most entries need no look-up.
    QByteArrayList m_verified;
    // Below the destination: the symbolic links this archive made, and every
    // non-directory it wrote (what a hard link may name).
    QSet<QByteArray> m_links;
    QSet<QByteArray> m_written;
};

#endif
