#include "installer/transaction/transaction.h"

#include "installer/transaction/journal.h"
#include "installer/transaction/transactionfiles.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using Beneath::Descriptor;
using Journal::Step;

const char Transaction::markerName[] = ".installed";

namespace {

const int directoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

struct Site
{
    bool fresh = false;
    QByteArray home;
    QByteArray chain;
};

// Where the transaction for `absolute` lives; 0, or the error that makes
// creating the destination impossible.
int locate(const QByteArray &absolute, Site *site)
{
    struct stat st;
    if (::stat(absolute.constData(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            return EEXIST;
        site->home = absolute;
        return 0;
    }
    if (errno != ENOENT)
        return errno;
    // A link that leads nowhere is in the way as a file would be.
    if (::lstat(absolute.constData(), &st) == 0)
        return EEXIST;
    QByteArray ancestor = TransactionFiles::parentPath(absolute);
    while (::stat(ancestor.constData(), &st) != 0) {
        if (errno != ENOENT)
            return errno;
        if (::lstat(ancestor.constData(), &st) == 0)
            return EEXIST;
        ancestor = TransactionFiles::parentPath(ancestor);
    }
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    site->fresh = true;
    site->home = ancestor;
    site->chain = absolute.mid(ancestor == "/" ? 1 : ancestor.size() + 1);
    return 0;
}

bool isBelowAny(const QByteArray &path, const QSet<QByteArray> &directories)
{
    for (int slash = path.indexOf('/'); slash >= 0; slash = path.indexOf('/', slash + 1)) {
        if (directories.contains(path.left(slash)))
            return true;
    }
    return false;
}

// The renames of an existing destination's commit, in order: the old
// marker out; every staged entry into place, moving what it replaces to the
// backup area (a staged directory meeting a real directory is merged entry
// by entry instead); the earlier installation's entries that the new tree
// lacks out; the new marker in.
class CommitPlanner
{
public:
    CommitPlanner(Beneath::Root &stage, Beneath::Root &home, const QSet<QByteArray> &previous,
                  const QByteArray &reserved)
        : m_stage(stage), m_home(home), m_previous(previous), m_reserved(reserved)
    {
    }

    struct Merged
    {
        QByteArray path;
        struct stat staged;
    };

    // False with errno set; a reserved name in the new tree gives EEXIST.
    bool build(QVector<Step> *steps)
    {
        struct stat st;
        const QByteArray marker(Transaction::markerName);
        if (Beneath::status(m_home, marker, &st))
            m_steps << removal(marker, st);
        if (!listStaged(QByteArray()) || !placeBelow(QByteArray()) || !removeOld())
            return false;
        if (Beneath::status(m_stage, marker, &st))
            m_steps << placement(marker, st, nullptr);
        *steps = m_steps;
        return true;
    }

    // The staged directories that meet one of the destination, with the mode
    // and times they are to pass on (read before any rename changes them).
    QVector<Merged> merged() const { return m_merged; }
    // A directory of the destination with files of the site where the new
    // tree has a file (the build failed with ENOTEMPTY).
    QByteArray conflict() const { return m_conflict; }

private:
    static Step removal(const QByteArray &path, const struct stat &st)
    {
        Step step;
        step.kind = Step::Remove;
        step.path = path;
        step.mode = st.st_mode & 07777;
        return step;
    }

    static Step placement(const QByteArray &path, const struct stat &staged,
                          const struct stat *replaced)
    {
        Step step;
        step.kind = Step::Place;
        step.path = path;
        step.mode = staged.st_mode & 07777;
        step.replaces = replaced != nullptr;
        step.replacedMode = replaced ? replaced->st_mode & 07777 : 0;
        return step;
    }

    // A destination directory whose entries the commit changes: its mode and
    // times go into the journal, for a rollback to put back.
    void cover(const QByteArray &directory, const struct stat &st)
    {
        if (directory.isEmpty() || m_covered.contains(directory))
            return;
        m_covered.insert(directory);
        Step step;
        step.kind = Step::Directory;
        step.path = directory;
        step.mode = st.st_mode & 07777;
        step.times[0] = st.st_atim;
        step.times[1] = st.st_mtim;
        m_steps << step;
    }

    bool isTopLevelSpecial(const QByteArray &directory, const QByteArray &name) const
    {
        return directory.isEmpty() && (name == Transaction::markerName);
    }

    bool listStaged(const QByteArray &directory)
    {
        bool ok = false;
        for (const QByteArray &name : Beneath::sortedNames(m_stage.fd(), directory, &ok)) {
            if (directory.isEmpty() && name == m_reserved) {
                errno = EEXIST;
                return false;
            }
            const QByteArray path = TransactionFiles::join(directory, name);
            m_staged.insert(path);
            struct stat st;
            if (!Beneath::status(m_stage, path, &st))
                return false;
            if (S_ISDIR(st.st_mode) && !listStaged(path))
                return false;
        }
        return ok;
    }

    bool placeBelow(const QByteArray &directory)
    {
        bool ok = false;
        for (const QByteArray &name : Beneath::sortedNames(m_stage.fd(), directory, &ok)) {
            if (isTopLevelSpecial(directory, name))
                continue;
            const QByteArray path = TransactionFiles::join(directory, name);
            struct stat staged, present;
            if (!Beneath::status(m_stage, path, &staged))
                return false;
            const bool exists = Beneath::status(m_home, path, &present);
            // A directory holding what the site put there is not given up
            // for a file of the new tree.
            if (exists && S_ISDIR(present.st_mode) && !S_ISDIR(staged.st_mode)
                && !holdsOnlyPrevious(path)) {
                m_conflict = path;
                errno = ENOTEMPTY;
                return false;
            }
            if (S_ISDIR(staged.st_mode) && exists && S_ISDIR(present.st_mode)) {
                cover(path, present);
                m_merged.push_back({path, staged});
                if (!placeBelow(path))
                    return false;
                continue;
            }
            m_steps << placement(path, staged, exists ? &present : nullptr);
            m_whole.insert(path);
        }
        return ok;
    }

    // Whether everything below the destination's `directory` belongs to the
    // earlier installation, so that it can go as a whole.
    bool holdsOnlyPrevious(const QByteArray &directory)
    {
        bool ok = false;
        for (const QByteArray &name : Beneath::sortedNames(m_home.fd(), directory, &ok)) {
            const QByteArray path = TransactionFiles::join(directory, name);
            struct stat st;
            if (!m_previous.contains(path) || !Beneath::status(m_home, path, &st)
                || (S_ISDIR(st.st_mode) && !holdsOnlyPrevious(path)))
                return false;
        }
        return ok;
    }

    bool removeOld()
    {
        QByteArrayList previous = m_previous.values();
        std::sort(previous.begin(), previous.end());
        QSet<QByteArray> removed;
        for (const QByteArray &path : previous) {
            if (m_staged.contains(path) || isBelowAny(path, m_whole) || isBelowAny(path, removed))
                continue;
            struct stat st;
            if (!Beneath::status(m_home, path, &st))
                continue;
            const QByteArray parent = Beneath::parentOf(path);
            struct stat parentStat;
            if (!parent.isEmpty()) {
                if (!Beneath::status(m_home, parent, &parentStat))
                    return false;
                cover(parent, parentStat);
            }
            // A directory with something the site added stays, with that.
            if (S_ISDIR(st.st_mode) && !holdsOnlyPrevious(path)) {
                cover(path, st);
                continue;
            }
            m_steps << removal(path, st);
            removed.insert(path);
        }
        return true;
    }

    Beneath::Root &m_stage;
    Beneath::Root &m_home;
    const QSet<QByteArray> &m_previous;
    QByteArray m_reserved;
    QVector<Step> m_steps;
    QSet<QByteArray> m_staged;
    QSet<QByteArray> m_whole;
    QSet<QByteArray> m_covered;
    QVector<Merged> m_merged;
    QByteArray m_conflict;
};

} // namespace

Transaction::Transaction(const QString &destination)
    : m_destination(destination)
{
}

Transaction::~Transaction()
{
    if (m_state == Begun)
        rollback();
}

bool Transaction::fail(const QString &what, int error)
{
    m_error = what;
    m_errorNumber = error;
    errno = error;
    return false;
}

bool Transaction::failMoving(int error)
{
    return fail(tr("Could not move the installed files into place in \"%1\": %2")
                    .arg(m_destination, qt_error_string(error)),
                error);
}

QString Transaction::stagingDirectory() const
{
    if (m_state != Begun)
        return QString();
    const QByteArray stage = TransactionFiles::join(
        TransactionFiles::join(m_homePath, m_name), TransactionFiles::stage);
    return QFile::decodeName(m_chain.isEmpty() ? stage : stage + '/' + m_chain);
}

bool Transaction::appendToJournal(const QByteArray &text)
{
    return TransactionFiles::appendDurably(m_journal.get(), text);
}

bool Transaction::begin()
{
    const auto cannotCreate = [this](int error) {
        return fail(tr("Could not create destination directory \"%1\". %2")
                        .arg(m_destination, qt_error_string(error)),
                    error);
    };
    if (m_state != Idle)
        return fail(tr("The installation into \"%1\" has already begun.").arg(m_destination),
                    EINVAL);
    if (m_destination.isEmpty())
        return cannotCreate(ENOENT);
    m_absolute = QFile::encodeName(QDir::cleanPath(QFileInfo(m_destination).absoluteFilePath()));
    Site site;
    if (const int error = locate(m_absolute, &site))
        return cannotCreate(error);
    m_fresh = site.fresh;
    m_homePath = site.home;
    m_chain = site.chain;
    m_name = TransactionFiles::nameFor(m_fresh, m_chain.split('/').first());

    m_home = Descriptor(::open(m_homePath.constData(), directoryFlags));
    struct stat st;
    if (!m_home.isValid() || ::fstat(m_home.get(), &st) != 0)
        return cannotCreate(errno);
    m_homeTimes[0] = st.st_atim;
    m_homeTimes[1] = st.st_mtim;

    Journal::Contents contents;
    contents.destination = m_absolute;
    contents.home = m_homePath;
    contents.homeTimes[0] = m_homeTimes[0];
    contents.homeTimes[1] = m_homeTimes[1];
    contents.fresh = m_fresh;
    contents.top = m_chain.split('/').first();
    const QByteArray header = Journal::header(contents);

    // Written before the home changes: a run killed before its journal says
    // anything still gets the home's times back.
    const QString note = TransactionFiles::notePath(m_homePath, m_name);
    QDir().mkpath(QFileInfo(note).path());
    QSaveFile noteFile(note);
    if (noteFile.open(QIODevice::WriteOnly) && noteFile.write(header) == header.size())
        noteFile.commit();

    if (::mkdirat(m_home.get(), m_name.constData(), 0700) != 0) {
        const int error = errno;
        QFile::remove(note);
        if (error == EEXIST)
            return fail(tr("Another installation into \"%1\" is in progress.").arg(m_destination),
                        error);
        return cannotCreate(error);
    }
    m_state = Begun;
    m_transaction = Descriptor(
        ::openat(m_home.get(), m_name.constData(), directoryFlags | O_NOFOLLOW));
    if (m_transaction.isValid())
        m_journal = Descriptor(::openat(m_transaction.get(), TransactionFiles::journal,
                                        O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    bool ok = m_journal.isValid() && ::flock(m_journal.get(), LOCK_EX | LOCK_NB) == 0
        && appendToJournal(header) && Beneath::syncDirectory(m_transaction.get())
        && Beneath::syncDirectory(m_home.get())
        && ::mkdirat(m_transaction.get(), TransactionFiles::stage, 0700) == 0;
    // A fresh destination's missing parents as the installation would make
    // them: 0777 and the destination 0755, both less the umask.
    QByteArray made = TransactionFiles::stage;
    const QByteArrayList chain = m_chain.isEmpty() ? QByteArrayList() : m_chain.split('/');
    for (int i = 0; ok && i < chain.size(); ++i) {
        const Descriptor parent = Beneath::openDirectory(m_transaction.get(), made);
        ok = parent.isValid()
            && ::mkdirat(parent.get(), chain.at(i).constData(), i + 1 < chain.size() ? 0777 : 0755)
                == 0;
        made += '/' + chain.at(i);
    }
    if (ok)
        return true;
    const int error = errno;
    rollback();
    return cannotCreate(error);
}

bool Transaction::commit()
{
    if (m_state != Begun)
        return fail(tr("The installation into \"%1\" has not begun.").arg(m_destination), EINVAL);
    const bool done = m_fresh ? commitFresh() : commitExisting();
    if (!done)
        return false;
    m_state = Committed;
    // Past the commit point: what is left is tidying up, which the next run
    // finishes should it fail now.
    QFile::remove(TransactionFiles::notePath(m_homePath, m_name));
    m_journal = Descriptor();
    TransactionFiles::removeTransaction(m_home.get(), m_name, nullptr);
    return true;
}

bool Transaction::commitFresh()
{
    const QByteArray top = m_chain.split('/').first();
    const Descriptor stage = Beneath::openDirectory(m_transaction.get(), TransactionFiles::stage);
    // The staged data must be on disk before the rename that shows it.
    if (!stage.isValid() || (m_durable && ::syncfs(stage.get()) != 0)
        || !appendToJournal(Journal::plan({})))
        return failMoving(errno);
    int result = ::renameat2(stage.get(), top.constData(), m_home.get(), top.constData(),
                             RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {
        // Not offered by this file system: the same check, not atomic.
        struct stat st;
        if (::fstatat(m_home.get(), top.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            errno = EEXIST;
        else
            result = ::renameat(stage.get(), top.constData(), m_home.get(), top.constData());
    }
    if (result != 0)
        return failMoving(errno);
    Beneath::syncDirectory(m_home.get());
    ::renameat(m_transaction.get(), TransactionFiles::journal, m_transaction.get(),
               TransactionFiles::committed);
    return true;
}

bool Transaction::commitExisting()
{
    const Descriptor stage = Beneath::openDirectory(m_transaction.get(), TransactionFiles::stage);
    if (!stage.isValid()
        || (::mkdirat(m_transaction.get(), TransactionFiles::backup, 0700) != 0 && errno != EEXIST))
        return failMoving(errno);
    const Descriptor backup = Beneath::openDirectory(m_transaction.get(), TransactionFiles::backup);
    QVector<Step> steps;
    Beneath::Root stageRoot(stage.get()), homeRoot(m_home.get()), backupRoot(backup.get());
    CommitPlanner planner(stageRoot, homeRoot, m_previous, m_name);
    if (!backup.isValid() || !planner.build(&steps)) {
        if (errno == ENOTEMPTY && !planner.conflict().isEmpty())
            return fail(tr("Could not install \"%1\": a directory with files that are not part "
                           "of the installation is in its place.")
                            .arg(QDir(m_destination).filePath(QFile::decodeName(planner.conflict()))),
                        ENOTEMPTY);
        if (errno == EEXIST)
            return fail(tr("Could not move the installed files into place in \"%1\": the "
                           "installation holds \"%2\", a name the installer keeps for itself.")
                            .arg(m_destination, QFile::decodeName(m_name)),
                        EEXIST);
        return failMoving(errno);
    }
    if (!appendToJournal(Journal::plan(steps)))
        return failMoving(errno);

    const auto moveAside = [&](const QByteArray &path) {
        return Beneath::makeDirectories(backupRoot, Beneath::parentOf(path))
            && Beneath::move(homeRoot, path, backupRoot, path);
    };
    // Entries move out of the staged directories and in and out of the
    // destination's; a read-only one of either gets its mode at the end (or
    // back on rollback).
    for (const Step &step : steps) {
        if (step.kind == Step::Directory)
            Beneath::lendWritePermission(homeRoot, step.path);
    }
    for (const CommitPlanner::Merged &merged : planner.merged())
        Beneath::lendWritePermission(stageRoot, merged.path);
    for (const Step &step : steps) {
        const bool ok = step.kind == Step::Directory
            || (step.kind == Step::Remove && moveAside(step.path))
            || (step.kind == Step::Place && (!step.replaces || moveAside(step.path))
                && Beneath::move(stageRoot, step.path, homeRoot, step.path));
        if (!ok)
            return failMoving(errno);
    }
    // Merged directories take the new tree's mode and times, set last since
    // every rename into them changed their times; the others keep their mode.
    for (const Step &step : steps) {
        if (step.kind == Step::Directory
            && !Beneath::setDirectoryAttributes(homeRoot, step.path, step.mode, nullptr))
            return failMoving(errno);
    }
    for (const CommitPlanner::Merged &merged : planner.merged()) {
        const struct timespec times[2] = {merged.staged.st_atim, merged.staged.st_mtim};
        if (!Beneath::setDirectoryAttributes(homeRoot, merged.path, merged.staged.st_mode,
                                             times))
            return failMoving(errno);
    }
    // The commit point: every rename, and the new files' data, on disk first.
    if ((m_durable && ::syncfs(m_home.get()) != 0)
        || ::renameat(m_transaction.get(), TransactionFiles::journal, m_transaction.get(),
                      TransactionFiles::committed)
            != 0)
        return failMoving(errno);
    Beneath::syncDirectory(m_transaction.get());
    return true;
}
