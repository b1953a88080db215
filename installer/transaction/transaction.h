#ifndef ZARVO_TRANSACTION_TRANSACTION_H
#define ZARVO_TRANSACTION_TRANSACTION_H

#include <QByteArray>
#include <QCoreApplication>
#include <QSet>
#include <QString>

#include "installer/transaction/beneath.h"

#include <time.h>

// An installation that either completes or leaves the destination as it
// was. The new tree is filled in a staging directory on the destination's
// file system, nothing at the destination changes until commit(), and a
// journal lets rollback() or, after a killed run, recover() restore the
// earlier state with renames and deletions only (so even on a full disk).
//
// A destination that does not exist is staged whole, with its missing
// parents, beside the nearest existing ancestor and appears by one rename. An
// existing one holds the transaction itself: commit() moves each entry the
// new tree replaces, and each entry of the earlier installation the new tree
// no longer has, into a backup area and the new entries into place; what the
// site added (in no record) stays. The backups are deleted once the journal
// says the new installation is complete.
class Transaction
{
    Q_DECLARE_TR_FUNCTIONS(Transaction)

public:
    enum Recovery {
        NothingFound, // no interrupted installation
        RolledBack,   // undone: the earlier state is back
        Completed,    // it had reached its commit point: finished
        Busy,         // another installation holds it
        Failed,       // it could not be undone (the message says why)
    };

    // The marker of a complete installation: removed first and put in place
    // last by a commit, so that no half-replaced tree carries it.
    static const char markerName[];

    explicit Transaction(const QString &destination);
    // Rolls back what was begun and not committed.
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // Prepares the staging directory. Changes nothing at the destination.
    bool begin();
    // The directory to fill: it becomes the destination when committed.
    QString stagingDirectory() const;
    // Entries (relative paths) of the installation being replaced, from its
    // record; those the new tree lacks are removed by the commit.
    void setPreviousEntries(const QSet<QByteArray> &paths) { m_previous = paths; }
    bool commit();
    // Whether commit() makes the new files' data durable before the commit
    // point (the default); off only to measure what that costs.
    void setDurable(bool durable) { m_durable = durable; }
    // Restores the earlier state; true when nothing of the installation is
    // left.
    bool rollback();
    bool isCommitted() const { return m_state == Committed; }

    // Why the last operation failed (a complete sentence), and the system's
    // error number.
    QString errorString() const { return m_error; }
    int errorNumber() const { return m_errorNumber; }

    // Finds what an interrupted installation into `destination` left and
    // undoes it, or completes it when it was past its commit point.
    // `message` gets a sentence for the status line and the log.
    static Recovery recover(const QString &destination, QString *message);

private:
    enum State { Idle, Begun, Committed, RolledBackState, Broken };

    bool fail(const QString &what, int error);
    bool failMoving(int error);
    bool commitFresh();
    bool commitExisting();
    bool appendToJournal(const QByteArray &text);

    QString m_destination;
    QByteArray m_absolute;
    bool m_fresh = false;
    // Where the transaction lives (the destination, or the nearest existing
    // ancestor of a fresh one), its name there, and for a fresh destination
    // the staged path from that ancestor down to the destination.
    QByteArray m_homePath;
    QByteArray m_name;
    QByteArray m_chain;
    Beneath::Descriptor m_home;
    Beneath::Descriptor m_transaction;
    Beneath::Descriptor m_journal;
    struct timespec m_homeTimes[2] = {};
    QSet<QByteArray> m_previous;
    State m_state = Idle;
    bool m_durable = true;
    QString m_error;
    int m_errorNumber = 0;
};

#endif
