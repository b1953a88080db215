#include "tests/reliability/reliabilitysupport.h"

#include "installer/engine/installer.h"
#include "installer/transaction/installationrecord.h"
#include "tests/support/siteentries.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <archive.h>
#include <archive_entry.h>

#include <dirent.h>
#include <sched.h>
#include <fcntl.h>
#include <memory>
#include <csignal>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Reliability {

bool ScriptedPrompt::askYesNo(QObject *, const QString &title, const QString &text)
{
    questions << title + QStringLiteral(": ") + text;
    return answer;
}

void ScriptedPrompt::tell(QObject *, Severity, const QString &title, const QString &text)
{
    messages << title + QStringLiteral(": ") + text;
}

namespace {

QByteArray textContent(QRandomGenerator &random, int size)
{
    static const char *const words[] = {"cluster ", "node ", "debugger ", "trace ", "rank ",
                                        "barrier\n", "pesk ", "lumo ", "stack ", "frame\n"};
    QByteArray data;
    data.reserve(size + 16);
    while (data.size() < size)
        data += words[random.bounded(10)];
    data.truncate(size);
    return data;
}

QByteArray binaryContent(QRandomGenerator &random, int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char(random.bounded(256));
    return data;
}

QByteArray parentOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : path.left(slash);
}

} // namespace

Tree generateTree(quint32 seed, int files, int maxFileSize)
{
    QRandomGenerator random(seed);
    Tree tree;
    const QList<QByteArray> directories = {"bin", "lib", "lib/plugins", "libexec", "share",
                                           "share/doc", "share/icons", "share/icons/48x48"};
    for (const QByteArray &d : directories)
        tree << Entry{Entry::Directory, d, QByteArray(), 0755};
    tree << Entry{Entry::File, "bin/pesk", "#!/bin/sh\nexec zarvo.bin \"$@\"\n", 0755};
    for (int i = 0; i < files; ++i) {
        const QByteArray dir = directories.at(random.bounded(directories.size()));
        const int size = i % 7 == 0 ? 0 : int(random.bounded(maxFileSize + 1));
        const bool binary = random.bounded(3) == 0;
        const QByteArray name = dir + "/file" + QByteArray::number(i) + (binary ? ".so" : ".txt");
        tree << Entry{Entry::File, name,
                      binary ? binaryContent(random, size) : textContent(random, size),
                      mode_t(binary ? 0755 : 0644)};
    }
    // Links point at files generated above, relative to their own directory.
    tree << Entry{Entry::Symlink, "lib/current", "plugins", 0777};
    tree << Entry{Entry::Symlink, "bin/lumo", "pesk", 0777};
    tree << Entry{Entry::Hardlink, "bin/pesk-again", "bin/pesk", 0755};
    return tree;
}

bool writeTree(const Tree &tree, const QByteArray &directory)
{
    for (const Entry &e : tree) {
        const QByteArray path = directory + '/' + e.path;
        switch (e.kind) {
        case Entry::Directory:
            if (::mkdir(path.constData(), e.mode) != 0 && errno != EEXIST)
                return false;
            break;
        case Entry::File: {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                  e.mode);
            if (fd < 0)
                return false;
            const bool ok = ::write(fd, e.data.constData(), size_t(e.data.size()))
                    == e.data.size();
            ::fchmod(fd, e.mode);
            ::close(fd);
            if (!ok)
                return false;
            break;
        }
        case Entry::Symlink:
            if (::symlink(e.data.constData(), path.constData()) != 0)
                return false;
            break;
        case Entry::Hardlink:
            if (::link((directory + '/' + e.data).constData(), path.constData()) != 0)
                return false;
            break;
        }
    }
    return true;
}

bool writeArchive(const Tree &tree, const QByteArray &path, QString *why, ArchiveFormat format)
{
    std::unique_ptr<archive, decltype(&archive_write_free)> out(archive_write_new(),
                                                                &archive_write_free);
    archive_write_add_filter_gzip(out.get());
    if (format == ArchiveFormat::Gnu)
        archive_write_set_format_gnutar(out.get());
    else
        archive_write_set_format_pax_restricted(out.get());
    if (archive_write_open_filename(out.get(), path.constData()) != ARCHIVE_OK) {
        *why = QString::fromLocal8Bit(archive_error_string(out.get()));
        return false;
    }
    for (const Entry &e : tree) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(
                archive_entry_new(), &archive_entry_free);
        archive_entry_set_pathname(entry.get(), e.path.constData());
        archive_entry_set_perm(entry.get(), e.mode);
        archive_entry_set_mtime(entry.get(), 1700000000, 0);
        switch (e.kind) {
        case Entry::Directory:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            break;
        case Entry::File:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_size(entry.get(), e.data.size());
            break;
        case Entry::Symlink:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_symlink(entry.get(), e.data.constData());
            break;
        case Entry::Hardlink:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_hardlink(entry.get(), e.data.constData());
            break;
        }
        if (archive_write_header(out.get(), entry.get()) != ARCHIVE_OK
            || (e.kind == Entry::File && !e.data.isEmpty()
                && archive_write_data(out.get(), e.data.constData(), size_t(e.data.size()))
                        != e.data.size())) {
            *why = QString::fromLocal8Bit(archive_error_string(out.get()));
            return false;
        }
    }
    if (archive_write_close(out.get()) != ARCHIVE_OK) {
        *why = QString::fromLocal8Bit(archive_error_string(out.get()));
        return false;
    }
    return true;
}

namespace {

enum class Detail { Content, Attributes, AttributesAndTimes };

QByteArray attributes(const struct stat &st, Detail detail)
{
    QByteArray text = QByteArray::number(uint(st.st_mode), 8) + ' ' + QByteArray::number(st.st_uid)
        + ' ' + QByteArray::number(st.st_gid) + ' ';
    if (detail == Detail::AttributesAndTimes)
        text += QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.'
            + QByteArray::number(qint64(st.st_mtim.tv_nsec)) + ' ';
    return text;
}

void listInto(const QByteArray &root, const QByteArray &relative,
              QMap<QByteArray, QByteArray> *into, Detail detail = Detail::Content)
{
    const QByteArray dirPath = relative.isEmpty() ? root : root + '/' + relative;
    DIR *dir = ::opendir(dirPath.constData());
    if (!dir)
        return;
    while (dirent *e = ::readdir(dir)) {
        const QByteArray name = e->d_name;
        if (name == "." || name == ".."
            || (relative.isEmpty() && InstallationRecord::isOwnFile(name)
                && detail == Detail::Content))
            continue;
        const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray path = root + '/' + rel;
        struct stat st;
        if (::lstat(path.constData(), &st) != 0)
            continue;
        const QByteArray prefix = detail == Detail::Content ? QByteArray() : attributes(st, detail);
        if (S_ISDIR(st.st_mode)) {
            into->insert(rel, prefix + "d");
            listInto(root, rel, into, detail);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.constData(), target, sizeof target);
            into->insert(rel, prefix + "l:" + QByteArray(target, n > 0 ? int(n) : 0));
        } else {
            // By bytes: a name need not be valid in any encoding.
            QByteArray content;
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            char buffer[65536];
            ssize_t n;
            while (fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0)
                content.append(buffer, int(n));
            if (fd >= 0)
                ::close(fd);
            into->insert(rel, prefix + "f:" + content);
        }
    }
    ::closedir(dir);
}

} // namespace

QMap<QByteArray, QByteArray> snapshotTree(const QByteArray &directory, bool withTimes)
{
    const Detail detail = withTimes ? Detail::AttributesAndTimes : Detail::Attributes;
    QMap<QByteArray, QByteArray> snapshot;
    struct stat st;
    if (::lstat(directory.constData(), &st) != 0)
        return snapshot;
    snapshot.insert(".", attributes(st, detail) + "d");
    listInto(directory, QByteArray(), &snapshot, detail);
    return snapshot;
}

QMap<QByteArray, QByteArray> listTree(const QByteArray &directory)
{
    QMap<QByteArray, QByteArray> listing;
    listInto(directory, QByteArray(), &listing);
    for (const QString &entry : siteEntries())
        listing.remove(QFile::encodeName(entry));
    return listing;
}

QMap<QByteArray, QByteArray> expectedListing(const Tree &tree, bool copyMode)
{
    QMap<QByteArray, QByteArray> listing;
    QMap<QByteArray, QByteArray> files;
    for (const Entry &e : tree) {
        if (e.kind == Entry::File)
            files.insert(e.path, e.data);
    }
    for (const Entry &e : tree) {
        switch (e.kind) {
        case Entry::Directory:
            listing.insert(e.path, "d");
            break;
        case Entry::File:
            listing.insert(e.path, "f:" + e.data);
            break;
        case Entry::Hardlink:
            listing.insert(e.path, "f:" + files.value(e.data));
            break;
        case Entry::Symlink: {
            if (!copyMode) {
                listing.insert(e.path, "l:" + e.data);
                break;
            }
            const QByteArray target = parentOf(e.path) + '/' + e.data;
            if (files.contains(target)) {
                listing.insert(e.path, "f:" + files.value(target));
                break;
            }
            // A link to a directory is copied as that directory.
            listing.insert(e.path, "d");
            for (auto it = files.cbegin(); it != files.cend(); ++it) {
                if (it.key().startsWith(target + '/'))
                    listing.insert(e.path + it.key().mid(target.size()), "f:" + it.value());
            }
            break;
        }
        }
    }
    return listing;
}

bool isKnownError(const QString &text)
{
    // The engine's messages, with every placeholder free.
    static const char *const formats[] = {
        // InstallThread
        "Source directory \"%1\" does not exist.",
        "%1 installation files not found in \"%2\".",
        "Could not create destination directory \"%1\". %2",
        "Could not create \"%1\".",
        // Tar, directory tree
        "Could not create directory \"%1\".",
        "Can't open \"%1\" for reading.",
        "Can't open \"%1\" for writing.",
        "Error writing to \"%1\".",
        "Error reading from \"%1\".",
        "Error reading file information for \"%1\".",
        "Error changing permissions on \"%1\".",
        "Error changing timestamps on \"%1\".",
        "Can't read directory \"%1\": %2.",
        "Can't read file information for \"%1\": %2.",
        // Tar, archive
        "Can't open \"%1\" for reading: %2.",
        "Error reading \"%1\": %2.",
        "Error extracting \"%1\" to \"%2\": %3",
        "Error reading \"%1\" from \"%2\": %3",
        "Error writing \"%1\": %2",
        "Error closing \"%1\": %2",
        // SiteFiles
        "Could not create directory \"%1\": %2.",
        "Could not write \"%1\": %2.",
        // Transaction, SpaceCheck
        "Could not move the installed files into place in \"%1\": %2",
        "Could not install \"%1\": a directory with files that are not part of the "
        "installation is in its place.",
        "Not enough free space in \"%1\": the installation needs %2, %3 are free.",
        "Not enough free inodes in \"%1\": the installation needs %2, %3 are free.",
    };
    static const QList<QRegularExpression> patterns = [] {
        QList<QRegularExpression> list;
        for (const char *format : formats) {
            QStringList pieces;
            for (const QString &piece : QString::fromUtf8(format).split(
                         QRegularExpression(QStringLiteral("%\\d"))))
                pieces << QRegularExpression::escape(piece);
            const QString pattern = pieces.join(QStringLiteral(".*"));
            list << QRegularExpression(QStringLiteral("\\A") + pattern + QStringLiteral("\\z"),
                                       QRegularExpression::DotMatchesEverythingOption);
        }
        return list;
    }();
    for (const QRegularExpression &pattern : patterns) {
        if (pattern.match(text).hasMatch())
            return true;
    }
    return false;
}

namespace {

// Mounts of this process go into a namespace of its own where the system
// allows, so that they vanish with the process even when it is killed.
void privateMounts()
{
    static const bool done = ::unshare(CLONE_NEWNS) == 0
            && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    Q_UNUSED(done);
}

} // namespace

TmpfsMount::TmpfsMount(const QString &where, const char *size)
    : path(QFile::encodeName(where))
{
    privateMounts();
    const QByteArray options = QByteArray("size=") + size + ",mode=0755";
    mounted = QDir().mkpath(where)
            && ::mount("tmpfs", path.constData(), "tmpfs", 0, options.constData()) == 0;
    if (!mounted)
        reason = QString::fromLocal8Bit(std::strerror(errno));
}

TmpfsMount::~TmpfsMount()
{
    if (mounted)
        ::umount2(path.constData(), MNT_DETACH);
}

QString Reports::summary() const
{
    return QStringLiteral("finished %1, cancelled %2, errors %3 [%4]")
            .arg(finished)
            .arg(cancelled)
            .arg(errors.size())
            .arg(errors.join(QStringLiteral(" | ")));
}

void record(Installer *installer, Reports *reports)
{
    QObject::connect(installer, &Installer::error, installer, [reports](const QString &text) {
        reports->errors << text;
        reports->log << QStringLiteral("error\t") + text;
    });
    QObject::connect(installer, &Installer::status, installer, [reports](const QString &text) {
        reports->statuses << text;
        reports->log << QStringLiteral("status\t") + text;
    });
    QObject::connect(installer, &Installer::progress, installer, [reports](int value) {
        reports->progress << value;
        reports->log << QStringLiteral("progress\t%1").arg(value);
    });
    QObject::connect(installer, &Installer::finished, installer, [reports] {
        ++reports->finished;
        reports->log << QStringLiteral("finished");
    });
    QObject::connect(installer, &Installer::cancelled, installer, [reports] {
        ++reports->cancelled;
        reports->log << QStringLiteral("cancelled");
    });
}

void deliverQueuedReports()
{
    for (int hop = 0; hop < 4; ++hop) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

bool runInstallation(const QString &source, const QString &destination, UserPrompt *prompt,
                     Reports *reports, int timeoutMs, const std::function<void(Installer &)> &setUp)
{
    Installer installer(nullptr, prompt);
    record(&installer, reports);
    if (setUp)
        setUp(installer);
    installer.install(source, destination);
    // The worker's end has no signal of its own; its thread leaving the
    // process is the sign.
    const auto ended = [&] { return reports->terminal() > 0 && !workerRunning(); };
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ended())
            loop.quit();
    });
    poll.start(2);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!ended())
        loop.exec();
    const bool done = ended();
    // Destroys the finished worker: that must add no report.
    installer.cancel();
    deliverQueuedReports();
    return done;
}

namespace {

// A helper in a process group of its own: a kill reaches whatever it forked
// too, as at power loss, and nothing outlives the test holding its output.
class GroupedHelper : public QProcess
{
protected:
    void setupChildProcess() override { ::setpgid(0, 0); }
};

} // namespace

bool runInHelper(const QByteArray &source, const QByteArray &destination, bool unprivileged,
                 const QStringList &environment, Reports *reports, QString *why,
                 int signalAfterMs, int signalNumber)
{
    QString program = QStringLiteral(ZARVO_INSTALLRUNNER);
    QStringList arguments;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &assignment : environment) {
        const int eq = assignment.indexOf(QLatin1Char('='));
        env.insert(assignment.left(eq), assignment.mid(eq + 1));
    }
    if (unprivileged && ::getuid() == 0) {
        // nobody must reach the helper: a copy in a temporary directory that
        // anyone can enter.
        static QTemporaryDir copyDir;
        const QString copy = copyDir.filePath(QStringLiteral("installrunner"));
        if (!QFile::exists(copy)
            && (!QFile::copy(program, copy) || !openUpTo(copy)
                || ::chmod(QFile::encodeName(copy).constData(), 0755) != 0)) {
            *why = QStringLiteral("cannot copy the helper for nobody");
            return false;
        }
        arguments << QStringLiteral("--reuid=65534") << QStringLiteral("--regid=65534")
                  << QStringLiteral("--clear-groups") << copy;
        program = QStringLiteral("setpriv");
        env.insert(QStringLiteral("HOME"), copyDir.path());
    }
    // QProcess hands arguments over in the locale's encoding; raw bytes go
    // through the environment instead and the helper reads them back.
    env.insert(QStringLiteral("ZARVO_RUNNER_SOURCE"), QString::fromLatin1(source.toHex()));
    env.insert(QStringLiteral("ZARVO_RUNNER_DESTINATION"),
               QString::fromLatin1(destination.toHex()));
    GroupedHelper process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        *why = program + QStringLiteral(": ") + process.errorString();
        return false;
    }
    const pid_t group = pid_t(process.processId());
    if (signalAfterMs >= 0) {
        QThread::msleep(ulong(signalAfterMs));
        ::kill(signalNumber == SIGKILL ? -group : group, signalNumber);
    }
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(10000);
        *why = QStringLiteral("the helper did not end within two minutes");
        return false;
    }
    if (signalAfterMs >= 0) {
        ::kill(-group, SIGKILL);
        return true;
    }
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0
        || !lines.contains("end")) {
        *why = QStringLiteral("the helper failed (exit %1): %2")
                       .arg(process.exitCode())
                       .arg(QString::fromUtf8(lines.join('\n')));
        return false;
    }
    for (const QByteArray &line : lines) {
        const int tab = line.indexOf('\t');
        const QByteArray kind = tab < 0 ? line : line.left(tab);
        const QString text = QString::fromUtf8(line.mid(tab + 1)).replace(QStringLiteral("\\n"),
                                                                            QStringLiteral("\n"));
        if (kind == "error")
            reports->errors << text;
        else if (kind == "status")
            reports->statuses << text;
        else if (kind == "progress")
            reports->progress << text.toInt();
        else if (kind == "finished")
            ++reports->finished;
        else if (kind == "cancelled")
            ++reports->cancelled;
        else
            continue;
        reports->log << QString::fromUtf8(line);
    }
    return true;
}

QString verify(Outcome outcome, const Reports &reports, const QMap<QByteArray, QByteArray> &expected,
               const QByteArray &destination)
{
    for (const QString &error : reports.errors) {
        if (!isKnownError(error))
            return QStringLiteral("unknown error: ") + error;
    }
    // The user sees the final paths only.
    for (const QString &line : reports.log) {
        if (line.contains(QLatin1String(".zarvo-transaction")))
            return QStringLiteral("the staging directory shows: ") + line;
    }
    if (reports.cancelled)
        return QStringLiteral("cancelled: ") + reports.summary();
    if (reports.finished > 1)
        return QStringLiteral("finished more than once");
    const bool marker = QFile::exists(QFile::decodeName(destination + "/.installed"));
    if (reports.finished && !marker)
        return QStringLiteral("finished without the marker");
    if (!reports.finished && marker)
        return QStringLiteral("marker without finished: ") + reports.summary();
    const QMap<QByteArray, QByteArray> installed = listTree(destination);

    switch (outcome) {
    case Outcome::Exact:
        if (!reports.finished || !reports.errors.isEmpty())
            return QStringLiteral("not a clean installation: ") + reports.summary();
        if (installed != expected) {
            QStringList differences;
            for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
                if (installed.value(it.key()) != it.value())
                    differences << QString::fromLocal8Bit(it.key().toPercentEncoding("/"));
            }
            for (auto it = installed.cbegin(); it != installed.cend(); ++it) {
                if (!expected.contains(it.key()))
                    differences << QStringLiteral("extra ")
                                    + QString::fromLocal8Bit(it.key().toPercentEncoding("/"));
            }
            return QStringLiteral("installed tree differs: ") + differences.mid(0, 5).join(QStringLiteral(", "));
        }
        return QString();
    case Outcome::Refused:
        if (reports.finished || reports.errors.size() != 1)
            return QStringLiteral("not refused with one error: ") + reports.summary();
        return QString();
    case Outcome::Accounted:
        if (reports.terminal() == 0)
            return QStringLiteral("no report at all");
        if (!reports.finished && reports.errors.isEmpty())
            return QStringLiteral("neither finished nor an error");
        for (auto it = installed.cbegin(); it != installed.cend(); ++it) {
            if (expected.value(it.key()) != it.value() && !it.value().startsWith("d"))
                return QStringLiteral("installed under another name or with other content: ")
                        + QString::fromLocal8Bit(it.key().toPercentEncoding("/"));
        }
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            if (installed.value(it.key()) == it.value())
                continue;
            const QString name = QFileInfo(QFile::decodeName(it.key())).fileName();
            bool named = false;
            for (const QString &error : reports.errors)
                named = named || error.contains(name);
            if (!named && reports.finished)
                return QStringLiteral("lost without an error: ")
                        + QString::fromLocal8Bit(it.key().toPercentEncoding("/"));
        }
        return QString();
    }
    return QString();
}

namespace {

int countEntries(const char *directory)
{
    int n = 0;
    if (DIR *dir = ::opendir(directory)) {
        while (dirent *e = ::readdir(dir)) {
            if (e->d_name[0] != '.')
                ++n;
        }
        ::closedir(dir);
    }
    return n;
}

} // namespace

bool workerRunning()
{
    bool found = false;
    if (DIR *dir = ::opendir("/proc/self/task")) {
        while (dirent *e = ::readdir(dir)) {
            if (e->d_name[0] == '.')
                continue;
            QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(QString::fromLatin1(e->d_name)));
            found = found || (comm.open(QIODevice::ReadOnly) && comm.readAll() == "InstallThread\n");
        }
        ::closedir(dir);
    }
    return found;
}

int openDescriptors()
{
    // The directory stream itself holds one.
    return countEntries("/proc/self/fd") - 1;
}

int threads()
{
    return countEntries("/proc/self/task");
}

namespace {

// Works on descriptors: a faulty installation may leave paths longer than
// the system's limit.
void removeAt(int dirFd, const char *name)
{
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlinkat(dirFd, name, 0);
        return;
    }
    ::fchmodat(dirFd, name, 0700, 0);
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR *dir = ::fdopendir(fd)) {
            while (dirent *e = ::readdir(dir)) {
                if (qstrcmp(e->d_name, ".") != 0 && qstrcmp(e->d_name, "..") != 0)
                    removeAt(::dirfd(dir), e->d_name);
            }
            ::closedir(dir);
        } else {
            ::close(fd);
        }
    }
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

} // namespace

void removeTree(const QByteArray &path)
{
    removeAt(AT_FDCWD, path.constData());
}

bool openUpTo(const QString &path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    const QString top = QDir::tempPath();
    while (current.startsWith(top + QLatin1Char('/'))) {
        if (::chmod(QFile::encodeName(current).constData(), 0755) != 0)
            return false;
        current = QFileInfo(current).path();
    }
    return true;
}

} // namespace Reliability
