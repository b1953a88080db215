#ifndef ZARVO_TRANSACTION_TRANSACTIONFILES_H
#define ZARVO_TRANSACTION_TRANSACTIONFILES_H

#include <QByteArray>
#include <QString>

#include <time.h>

// What a transaction keeps on disk, shared by its forward and backward ways.
//
//   <home>/<name>/journal     the journal while the installation runs; then
//                 committed   once the new installation is complete, or
//                 undone      once the earlier state is back
//                 stage/      the new tree (the destination's contents, or for
//                             a fresh destination the missing path down to it)
//                 backup/     what the commit moved out of the destination
//
// <name> is ".zarvo-transaction" inside an existing destination, and
// ".zarvo-transaction-<key>" beside a fresh one, the key naming the first
// missing component, so that each is found by its destination's path alone.
// A copy of the journal's header lies in the user's state directory for as
// long as the home's times may need restoring: it covers the instants when
// the home has changed and the journal does not (yet, or any more) say how.
namespace TransactionFiles {

extern const char journal[];
extern const char committed[];
extern const char undone[];
extern const char stage[];
extern const char backup[];

QByteArray nameFor(bool fresh, const QByteArray &top);
// An absolute path and a name in it, or two relative paths.
QByteArray join(const QByteArray &directory, const QByteArray &name);
// The parent of a clean absolute path ("/" for "/x").
QByteArray parentPath(const QByteArray &absolute);
QString notePath(const QByteArray &home, const QByteArray &name);

// Writes the whole text and makes it durable.
bool appendDurably(int fd, const QByteArray &text);
QByteArray readAll(int fd);

// Deletes the transaction's directory, journal last, and restores the
// home's times when given. False when something could not be deleted.
bool removeTransaction(int home, const QByteArray &name, const struct timespec *homeTimes);

} // namespace TransactionFiles

#endif
