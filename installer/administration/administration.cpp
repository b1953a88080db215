#include "installer/administration/administration.h"

#include "installer/administration/desktopundo.h"
#include "installer/administration/installedtree.h"
#include "installer/administration/record.h"
#include "installer/administration/verification.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace Administration {

const char removerName[] = "uninstall";

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void noteSignal(int number)
{
    stopSignal = number;
}

// SIGINT and SIGTERM stop a removal between two entries, and a question;
// what a killed run leaves, the next completes.
class SignalCatcher
{
public:
    SignalCatcher()
    {
        stopSignal = 0;
        struct sigaction action = {};
        action.sa_handler = noteSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_oldInterrupt);
        ::sigaction(SIGTERM, &action, &m_oldTerminate);
    }
    ~SignalCatcher()
    {
        ::sigaction(SIGINT, &m_oldInterrupt, nullptr);
        ::sigaction(SIGTERM, &m_oldTerminate, nullptr);
    }

private:
    struct sigaction m_oldInterrupt;
    struct sigaction m_oldTerminate;
};

void writeAll(int fd, const std::string &text)
{
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        written += size_t(count);
    }
}

// The directory as given, without a slash at its end.
std::string topPath(const std::string &directory)
{
    std::string top = directory;
    while (top.size() > 1 && top.back() == '/')
        top.pop_back();
    return top;
}

std::string below(const std::string &directory, const std::string &path)
{
    const std::string top = topPath(directory);
    return (top == "/" ? std::string() : top) + '/' + path;
}

bool readRecordText(InstalledTree &tree, std::string *text)
{
    const Descriptor file(::openat(tree.fd(), Record::fileName,
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file.isValid() || ::fstat(file.get(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    text->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        text->append(buffer, size_t(got));
    }
}

// Opens the installation and reads its record; says why not when it cannot.
bool openInstallation(Io &io, const std::string &directory, InstalledTree *tree, Record *record)
{
    if (!tree->open(directory)) {
        io.complain(text("Could not open the installation \"%1\": %2.",
                         {printable(directory), systemError(errno)}));
        return false;
    }
    const std::string path = printable(below(directory, Record::fileName));
    std::string recordText;
    if (!readRecordText(*tree, &recordText)) {
        if (errno == ENOENT)
            io.complain(text("\"%1\" holds no installation record: it was not made by this "
                             "installer, or it has been removed already.",
                             {printable(directory)}));
        else
            io.complain(text("Could not read the installation record \"%1\": %2.",
                             {path, systemError(errno)}));
        return false;
    }
    RecordProblem problem;
    if (parseRecord(recordText, record, &problem))
        return true;
    if (problem.line == 0)
        io.complain(text("The installation record \"%1\" cannot be used: %2.",
                         {path, io.translate(problem.reason)}));
    else
        io.complain(text("The installation record \"%1\" cannot be used: line %2: %3.",
                         {path, std::to_string(problem.line), io.translate(problem.reason)}));
    return false;
}

// False, having said why, when the installation must not be removed from here.
bool mayBeRemoved(Io &io, InstalledTree &tree, const Record &record, const std::string &directory)
{
    const std::string recorded = record.option("destination");
    struct stat here;
    struct stat there;
    if (!recorded.empty()
        && (::fstat(tree.fd(), &here) != 0 || ::stat(recorded.c_str(), &there) != 0
            || here.st_dev != there.st_dev || here.st_ino != there.st_ino)) {
        io.complain(text("The installation record says that the installation lies in \"%1\": "
                         "\"%2\" is a moved or copied tree.",
                         {printable(recorded), printable(directory)}));
        return false;
    }
    // Where a running or interrupted installation keeps its journal.
    if (tree.status(".zarvo-transaction", &here)) {
        io.complain(text("An installation into \"%1\" is running or was interrupted; run the "
                         "installer on it again first.",
                         {printable(directory)}));
        return false;
    }
    return true;
}

struct Removal
{
    std::vector<std::string> files;       // entries to remove, directories with their contents
    std::vector<std::string> directories; // recorded directories, removed when empty
    std::vector<std::string> changed;     // kept unless purged
    std::vector<std::string> added;       // kept unless purged
    bool hasRemover = false;
};

Removal planRemoval(InstalledTree &tree, const Record &record, bool purge)
{
    Removal plan;
    for (const Entry &entry : record.entries) {
        const Finding finding = examine(tree, entry);
        if (finding.missing)
            continue;
        if (entry.path == removerName && finding.contentKept()) {
            plan.hasRemover = true;
        } else if (entry.type == Entry::Directory && !finding.type) {
            plan.directories.push_back(entry.path);
        } else if (finding.contentKept() || purge) {
            plan.files.push_back(entry.path);
        } else {
            plan.changed.push_back(entry.path);
        }
    }
    plan.added = addedEntries(tree, record);
    for (std::string &path : plan.added) {
        if (purge && path.back() == '/')
            path.pop_back();
    }
    return plan;
}

enum class SiteCopy { Removed, Changed, Failed };

// The copy of the installation's modulefile in a site's module tree goes when
// it still holds the text that the installation's own "modulefiles/<name>/
// <version>" was installed with, else it is kept like a changed file. The
// product's directory in that tree goes with it once it is empty.
SiteCopy removeModuleFile(const Record &record, const std::string &file, bool purge)
{
    const size_t last = file.rfind('/');
    const size_t before = last == std::string::npos || last == 0 ? std::string::npos
                                                                 : file.rfind('/', last - 1);
    const std::string own = before == std::string::npos ? std::string()
                                                        : "modulefiles" + file.substr(before);
    const auto entry = std::find_if(record.entries.begin(), record.entries.end(),
                                    [&](const Entry &e) { return e.path == own; });
    const Descriptor copy(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!copy.isValid() && errno == ENOENT)
        return SiteCopy::Removed;
    const bool unchanged = copy.isValid() && ::fstat(copy.get(), &st) == 0 && S_ISREG(st.st_mode)
        && entry != record.entries.end() && contentHash(copy.get()) == entry->hash;
    if (!unchanged && !purge)
        return SiteCopy::Changed;
    if (::unlink(file.c_str()) != 0 && errno != ENOENT)
        return SiteCopy::Failed;
    ::rmdir(file.substr(0, last).c_str());
    return SiteCopy::Removed;
}

// Asks before anything is removed, unless told not to. Done to go on.
int confirm(Io &io, const Record &record, const Removal &plan, const std::string &directory,
            const UninstallOptions &options)
{
    if (options.assumeYes)
        return Done;
    const size_t entries = plan.files.size() + plan.directories.size() + (plan.hasRemover ? 1 : 0);
    const size_t kept = plan.changed.size() + plan.added.size();
    io.tell(text("%1 %2, installed in \"%3\" on %4 by %5:",
                 {record.productName, record.productVersion, printable(directory),
                  record.date.substr(0, 10), printable(record.userName)}));
    io.tell(text("%1 entries and %2 desktop registrations are to be removed.",
                 {std::to_string(entries), std::to_string(record.registrations.size())}));
    if (kept > 0 && options.purge)
        io.tell(text("%1 entries changed or added since the installation are to be removed too.",
                     {std::to_string(kept)}));
    else if (kept > 0)
        io.tell(text("%1 entries changed or added since the installation are kept (--purge "
                     "removes them too).",
                     {std::to_string(kept)}));
    switch (io.ask(text("Remove it? [y/N] "))) {
    case Io::Yes:
        return Done;
    case Io::No:
        break;
    case Io::NoTerminal:
        io.complain(text("There is no terminal to ask on: run with --yes to remove without "
                         "asking."));
        break;
    case Io::Stopped:
        io.complain(text("Nothing was removed."));
        return Interrupted;
    }
    io.complain(text("Nothing was removed."));
    return Failed;
}

} // namespace

void Io::print(const std::string &line)
{
    writeAll(STDOUT_FILENO, line + '\n');
}

void Io::complain(const Text &message)
{
    writeAll(STDERR_FILENO, translate(message) + '\n');
}

std::string Io::translate(const Text &message) const
{
    return fill(message.source, message.values);
}

Io::Answer Io::ask(const Text &question)
{
    if (!::isatty(STDIN_FILENO))
        return NoTerminal;
    // The person at the terminal sees it even when the output goes to a log.
    writeAll(::isatty(STDOUT_FILENO) || !::isatty(STDERR_FILENO) ? STDOUT_FILENO : STDERR_FILENO,
             translate(question));
    std::string answer;
    for (;;) {
        char c;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR && !stopSignal)
            continue;
        if (got < 0 && stopSignal) {
            writeAll(STDOUT_FILENO, "\n");
            return Stopped;
        }
        if (got <= 0 || c == '\n')
            break;
        answer += c;
    }
    const size_t start = answer.find_first_not_of(" \t\r");
    answer = start == std::string::npos ? std::string()
                                        : answer.substr(start, answer.find_last_not_of(" \t\r") + 1 - start);
    std::transform(answer.begin(), answer.end(), answer.begin(), [](char c) { return char(std::tolower((unsigned char)c)); });
    return answer == "y" || answer == "yes" ? Yes : No;
}

int uninstall(Io &io, const std::string &directory, const UninstallOptions &options)
{
    const SignalCatcher catcher;
    InstalledTree tree;
    Record record;
    if (!openInstallation(io, directory, &tree, &record)
        || !mayBeRemoved(io, tree, record, directory)) {
        io.complain(text("Nothing was removed."));
        return Failed;
    }
    const Removal plan = planRemoval(tree, record, options.purge);
    if (const int refused = confirm(io, record, plan, directory, options))
        return refused;

    bool failed = false;
    const auto cannotRemove = [&](const std::string &path) {
        io.complain(text("Could not remove \"%1\": %2.",
                         {printable(below(directory, path)), systemError(errno)}));
        failed = true;
    };
    // A half-removed installation must never look installed.
    if (!tree.remove(markerName, false))
        cannotRemove(markerName);

    // Undone while the installation's own tools are still there; the record
    // then forgets them, so that a run that is stopped later does not undo
    // them again with tools that are gone.
    std::vector<Registration> remaining;
    std::vector<std::string> keptOutside;
    for (const Registration &registration : record.registrations) {
        Text problem;
        if (registration.tool == "modulefile") {
            const SiteCopy outcome = removeModuleFile(record, registration.file, options.purge);
            if (outcome == SiteCopy::Changed)
                keptOutside.push_back(registration.file);
            if (outcome != SiteCopy::Failed)
                continue;
            problem = text("Could not remove \"%1\": %2.",
                           {printable(registration.file), systemError(errno)});
        } else if (registration.mode == "user" && record.userId != ::geteuid()) {
            problem = text("\"%1\" was registered for the user %2, who alone can undo it.",
                           {printable(registration.file), printable(record.userName)});
        } else if (undoRegistration(registration, topPath(directory), &problem)) {
            continue;
        }
        io.complain(problem);
        remaining.push_back(registration);
        failed = true;
    }
    if (remaining.size() != record.registrations.size()) {
        record.registrations = remaining;
        if (!tree.replaceFile(Record::fileName, newRecordName, record.text()))
            cannotRemove(Record::fileName);
    }

    std::vector<std::string> doomed = plan.files;
    if (options.purge)
        doomed.insert(doomed.end(), plan.added.begin(), plan.added.end());
    for (const std::string &path : doomed) {
        if (stopSignal)
            break;
        if (!tree.removeAll(path))
            cannotRemove(path);
    }
    for (auto path = plan.directories.rbegin(); path != plan.directories.rend() && !stopSignal; ++path) {
        // One that holds what is kept stays.
        if (!tree.remove(*path, true) && errno != ENOTEMPTY && errno != EEXIST)
            cannotRemove(*path);
    }
    if (stopSignal) {
        io.complain(text("The removal was interrupted; run it again to complete it."));
        return Interrupted;
    }
    if (failed) {
        io.complain(text("Not everything could be removed; see the messages above. The "
                         "installation record stays, so that the removal can be run again."));
        return Failed;
    }

    // The program that may be running this, then what tells of the installation.
    for (const char *name : {removerName, logName, newRecordName, Record::fileName}) {
        if ((name != removerName || plan.hasRemover) && !tree.remove(name, false))
            cannotRemove(name);
    }
    if (!options.purge) {
        for (const std::string &path : plan.changed)
            io.tell(text("Kept, changed since the installation: %1", {printable(below(directory, path))}));
        for (const std::string &path : keptOutside)
            io.tell(text("Kept, changed since the installation: %1", {printable(path)}));
        for (const std::string &path : plan.added)
            io.tell(text("Kept, added since the installation: %1", {printable(below(directory, path))}));
    }
    if (failed)
        return Failed;
    if (::rmdir(directory.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST)
        io.tell(text("The directory \"%1\" itself was left in place: %2.",
                     {printable(directory), systemError(errno)}));
    const bool kept = !keptOutside.empty()
        || (!options.purge && !(plan.changed.empty() && plan.added.empty()));
    io.tell(text(kept ? "%1 %2 was removed from \"%3\"; what is listed above was kept."
                      : "%1 %2 was removed from \"%3\".",
                 {record.productName, record.productVersion, printable(directory)}));
    return Done;
}

int verify(Io &io, const std::string &directory, bool showAdded)
{
    InstalledTree tree;
    Record record;
    if (!openInstallation(io, directory, &tree, &record))
        return Failed;
    std::vector<std::pair<std::string, std::string>> differences;
    struct stat st;
    if (!tree.status(markerName, &st))
        differences.emplace_back("missing", markerName);
    for (const Entry &entry : record.entries) {
        const Finding finding = examine(tree, entry);
        if (!finding.same())
            differences.emplace_back(finding.flags(), entry.path);
    }
    if (showAdded) {
        for (const std::string &path : addedEntries(tree, record))
            differences.emplace_back("added", path);
    }
    for (const auto &difference : differences) {
        std::string flags = difference.first;
        flags.resize(std::max<size_t>(flags.size(), 8), ' ');
        io.print(flags + ' ' + printable(below(directory, difference.second)));
    }
    return differences.empty() ? Done : Failed;
}

} // namespace Administration
