// The way back: rolling a transaction back, and finding and settling one
// that a killed run left.
#include "installer/transaction/transaction.h"

#include "installer/transaction/journal.h"
#include "installer/transaction/transactionfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using Beneath::Descriptor;
using Journal::Step;

namespace {

const int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Reverses the renames of an interrupted commit, newest first. Each step
// looks at what is there, so a step that never ran is left alone and a
// reversal cut short can run again.
bool reversePlan(Beneath::Root &home, Beneath::Root &stage, Beneath::Root *backup,
                 const QVector<Step> &plan)
{
    // The directories entries move in and out of may have been given a
    // read-only mode by the commit; theirs comes back at the end.
    for (const Step &step : plan) {
        if (step.kind == Step::Directory) {
            Beneath::lendWritePermission(home, step.path);
            Beneath::lendWritePermission(stage, step.path);
        }
    }
    bool ok = true;
    struct stat here, saved;
    for (auto step = plan.crbegin(); step != plan.crend(); ++step) {
        if (step->kind == Step::Directory)
            continue;
        if (step->kind == Step::Place && !Beneath::status(stage, step->path, &here)
            && Beneath::status(home, step->path, &here))
            ok = Beneath::move(home, step->path, stage, step->path) && ok;
        if ((step->kind == Step::Remove || step->replaces) && backup
            && Beneath::status(*backup, step->path, &saved)
            && !Beneath::status(home, step->path, &here)) {
            ok = Beneath::move(*backup, step->path, home, step->path) && ok;
            // A directory's mode was lent write permission for its move.
            const mode_t mode = step->kind == Step::Remove ? step->mode : step->replacedMode;
            if (S_ISDIR(saved.st_mode) && (saved.st_mode & 07777) != mode)
                ok = Beneath::setDirectoryAttributes(home, step->path, mode, nullptr) && ok;
        }
    }
    for (const Step &step : plan) {
        if (step.kind == Step::Directory)
            ok = Beneath::setDirectoryAttributes(home, step.path, step.mode, step.times) && ok;
    }
    return ok;
}

struct Found
{
    Descriptor journal;
    const char *state = nullptr; // which of the journal's names it has
    Journal::Contents contents;
    bool readable = true;
};

Found findJournal(int transaction)
{
    Found found;
    for (const char *name : {TransactionFiles::journal, TransactionFiles::committed,
                             TransactionFiles::undone}) {
        Descriptor fd(::openat(transaction, name, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        if (fd.isValid()) {
            found.readable = Journal::parse(TransactionFiles::readAll(fd.get()), &found.contents);
            found.journal = std::move(fd);
            found.state = name;
            break;
        }
    }
    return found;
}

// The home's times from the journal, or from the copy of its header kept in
// the state directory for the instants the journal cannot tell.
bool homeTimes(const Journal::Contents &contents, const QString &note, struct timespec times[2])
{
    Journal::Contents fromNote;
    const Journal::Contents *source = &contents;
    if (!contents.begun) {
        QFile file(note);
        if (!file.open(QIODevice::ReadOnly) || !Journal::parse(file.readAll(), &fromNote)
            || !fromNote.begun)
            return false;
        source = &fromNote;
    }
    times[0] = source->homeTimes[0];
    times[1] = source->homeTimes[1];
    return true;
}

// Settles the transaction `name` in `home`: completes it when it had passed
// its commit point, otherwise restores the earlier state. Errno on failure.
Transaction::Recovery settle(int home, const QByteArray &homePath, const QByteArray &name,
                             Found &found)
{
    const QString note = TransactionFiles::notePath(homePath, name);
    const Descriptor transaction(::openat(home, name.constData(), directoryFlags));
    if (!transaction.isValid())
        return Transaction::Failed;
    const Journal::Contents &contents = found.contents;
    bool complete = found.state == TransactionFiles::committed;
    if (found.state == TransactionFiles::journal && contents.fresh && contents.commitStarted) {
        // The one rename of a fresh destination is its commit point.
        struct stat st;
        Beneath::Root inTransaction(transaction.get());
        complete = !Beneath::status(inTransaction,
                                    TransactionFiles::join(TransactionFiles::stage, contents.top),
                                    &st);
    }
    if (complete) {
        QFile::remove(note);
        return TransactionFiles::removeTransaction(home, name, nullptr) ? Transaction::Completed
                                                                      : Transaction::Failed;
    }
    if (found.state == TransactionFiles::journal) {
        if (!contents.fresh && contents.commitStarted) {
            const Descriptor stage = Beneath::openDirectory(transaction.get(), TransactionFiles::stage);
            const Descriptor backup =
                Beneath::openDirectory(transaction.get(), TransactionFiles::backup);
            Beneath::Root homeRoot(home), stageRoot(stage.get()), backupRoot(backup.get());
            if (!stage.isValid()
                || !reversePlan(homeRoot, stageRoot, backup.isValid() ? &backupRoot : nullptr,
                                contents.plan))
                return Transaction::Failed;
        }
        // From here on only deleting is left, which may be repeated.
        if (::renameat(transaction.get(), TransactionFiles::journal, transaction.get(),
                       TransactionFiles::undone)
                != 0
            && errno != ENOENT)
            return Transaction::Failed;
        Beneath::syncDirectory(transaction.get());
    }
    struct timespec times[2];
    const bool known = homeTimes(contents, note, times);
    if (!TransactionFiles::removeTransaction(home, name, known ? times : nullptr))
        return Transaction::Failed;
    QFile::remove(note);
    return Transaction::RolledBack;
}

} // namespace

bool Transaction::rollback()
{
    if (m_state != Begun)
        return m_state != Committed && m_state != Broken;
    Found found;
    found.contents.begun = false;
    found.state = TransactionFiles::journal;
    if (m_journal.isValid())
        Journal::parse(TransactionFiles::readAll(m_journal.get()), &found.contents);
    if (!found.contents.begun) {
        // Cut short while beginning: what this object knows is enough.
        found.contents.destination = m_absolute;
        found.contents.home = m_homePath;
        found.contents.homeTimes[0] = m_homeTimes[0];
        found.contents.homeTimes[1] = m_homeTimes[1];
        found.contents.fresh = m_fresh;
        found.contents.begun = true;
    }
    const Recovery result = settle(m_home.get(), m_homePath, m_name, found);
    const int error = errno;
    m_journal = Descriptor();
    m_state = result == RolledBack ? RolledBackState : Broken;
    if (result == RolledBack)
        return true;
    fail(tr("Could not restore \"%1\" as it was: %2. The next installation into it will try "
            "again.")
             .arg(m_destination, qt_error_string(error)),
         error);
    return false;
}

Transaction::Recovery Transaction::recover(const QString &destination, QString *message)
{
    if (destination.isEmpty())
        return NothingFound;
    const QByteArray absolute =
        QFile::encodeName(QDir::cleanPath(QFileInfo(destination).absoluteFilePath()));
    // Inside the destination, and beside each of its ancestors for a fresh
    // one whose missing path began there.
    QVector<QPair<QByteArray, QByteArray>> places;
    struct stat st;
    if (::stat(absolute.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        places.append({absolute, TransactionFiles::nameFor(false, QByteArray())});
    for (QByteArray child = absolute; child != "/"; child = TransactionFiles::parentPath(child))
        places.append({TransactionFiles::parentPath(child),
                       TransactionFiles::nameFor(true, child.mid(child.lastIndexOf('/') + 1))});

    Recovery overall = NothingFound;
    for (const auto &place : places) {
        const Descriptor home(::open(place.first.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!home.isValid())
            continue;
        const QString note = TransactionFiles::notePath(place.first, place.second);
        if (::fstatat(home.get(), place.second.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // Only the home's times may be left to put back.
            struct timespec times[2];
            if (QFile::exists(note) && homeTimes(Journal::Contents(), note, times)
                && ::futimens(home.get(), times) == 0)
                QFile::remove(note);
            continue;
        }
        const Descriptor transaction(
            ::openat(home.get(), place.second.constData(), directoryFlags));
        Found found = transaction.isValid() ? findJournal(transaction.get()) : Found();
        const QByteArray journalDestination = found.contents.destination;
        const QString shown = journalDestination.isEmpty() || journalDestination == absolute
            ? destination
            : QFile::decodeName(journalDestination);
        Recovery result = Failed;
        int error = errno;
        if (!transaction.isValid()) {
            error = errno;
        } else if (found.journal.isValid() && ::flock(found.journal.get(), LOCK_EX | LOCK_NB) != 0) {
            result = Busy;
        } else if (!found.readable) {
            error = EBADMSG;
        } else {
            result = settle(home.get(), place.first, place.second, found);
            error = errno;
        }
        switch (result) {
        case RolledBack:
            *message = tr("Restored \"%1\" as it was before an interrupted installation.").arg(shown);
            break;
        case Completed:
            *message = tr("Completed an interrupted installation into \"%1\".").arg(shown);
            break;
        case Busy:
            *message = tr("Another installation into \"%1\" is in progress.").arg(shown);
            break;
        case Failed:
            *message = tr("Could not undo an interrupted installation into \"%1\": %2")
                           .arg(shown, qt_error_string(error));
            break;
        case NothingFound:
            break;
        }
        if (result == Busy || result == Failed)
            return result;
        overall = result;
    }
    return overall;
}
