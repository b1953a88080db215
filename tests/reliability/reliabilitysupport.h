#ifndef ZARVO_TESTS_RELIABILITYSUPPORT_H
#define ZARVO_TESTS_RELIABILITYSUPPORT_H

#include "installer/engine/userprompt.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

#include <sys/types.h>

class Installer;

namespace Reliability {

// Answers every question Yes and keeps what was asked and told.
class ScriptedPrompt : public UserPrompt
{
public:
    bool askYesNo(QObject *owner, const QString &title, const QString &text) override;
    void tell(QObject *owner, Severity severity, const QString &title,
              const QString &text) override;

    QStringList questions;
    QStringList messages;
    // The answer to every question.
    bool answer = true;
};

// One entry of a generated installation. Paths are raw bytes, relative.
struct Entry
{
    enum Kind { Directory, File, Symlink, Hardlink };
    Kind kind;
    QByteArray path;
    QByteArray data; // file content, or link target
    mode_t mode;
};
using Tree = QList<Entry>;

// A seeded installation of `files` files spread over a few directories,
// with text and binary content, executables, symbolic links and a hard link.
// Always has bin/pesk, so that a copy of it is an unpacked installation.
Tree generateTree(quint32 seed, int files, int maxFileSize);

// Writes the tree below `directory` (for copy mode); hard links become
// copies. False on any failure.
bool writeTree(const Tree &tree, const QByteArray &directory);

// Writes the tree as a gzip-compressed tar archive. False on any failure;
// `why` says what failed. GNU tar (the default of GNU tar itself) stores
// names as raw bytes; pax stores them as UTF-8, which a reader converts to
// the locale's encoding.
enum class ArchiveFormat { Gnu, Pax };
bool writeArchive(const Tree &tree, const QByteArray &path, QString *why,
                  ArchiveFormat format = ArchiveFormat::Gnu);

// What is installed below a directory, the ".installed" marker, the record,
// the log and the files that every installation writes beside its payload
// excluded:
// relative path -> "d", "f:<content>" or "l:<target>".
QMap<QByteArray, QByteArray> listTree(const QByteArray &directory);

// Everything below a directory and the directory itself ("."), hidden
// entries included, with mode and owner, and with modification times when
// `withTimes`: what must be byte-identical after an installation is undone.
QMap<QByteArray, QByteArray> snapshotTree(const QByteArray &directory, bool withTimes);

// What installing `tree` must leave, in the form of listTree: in copy mode
// links are followed, since the copy turns them into files.
QMap<QByteArray, QByteArray> expectedListing(const Tree &tree, bool copyMode);

// True when `text` is one of the engine's error messages.
bool isKnownError(const QString &text);

// A tmpfs mounted for the lifetime of the object (needs root), unmounted on
// every way out. `reason` says why mounting failed.
class TmpfsMount
{
public:
    TmpfsMount(const QString &where, const char *size);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    QByteArray path;
    bool mounted = false;
    QString reason;
};

// Records everything one Installer reports.
struct Reports
{
    QStringList errors;
    QStringList statuses;
    QList<int> progress;
    int finished = 0;
    int cancelled = 0;
    // Every report in order of arrival: "status\t...", "error\t...",
    // "progress\t...", "finished", "cancelled".
    QStringList log;
    int terminal() const { return finished + cancelled + errors.size(); }
    QString summary() const;
};

// Connects `reports` to every signal of the installer.
void record(Installer *installer, Reports *reports);

// Runs one installation to its end with the real Installer: until a
// terminal report came and the worker thread has ended. False when that did
// not happen within `timeoutMs`. Afterwards every queued report has been
// delivered. A copy goes on after a file that failed, so an error alone does
// not end the wait. `setUp` may set the Installer up before it starts.
bool runInstallation(const QString &source, const QString &destination, UserPrompt *prompt,
                     Reports *reports, int timeoutMs = 60000,
                     const std::function<void(Installer &)> &setUp = {});

// Runs the installation in the helper program installrunner, as the
// unprivileged user nobody when `unprivileged` and this process is root, with
// `environment` ("NAME=value") added to this process's environment. Source
// and destination are raw bytes. False, with `why`, when the helper could not
// run or did not end. With `signalAfterMs`, the helper gets `signalNumber`
// that long after it started and its reports are not read.
bool runInHelper(const QByteArray &source, const QByteArray &destination, bool unprivileged,
                 const QStringList &environment, Reports *reports, QString *why,
                 int signalAfterMs = -1, int signalNumber = 0);

// How a run must end.
enum class Outcome {
    // finished, the marker, no error, the tree exactly as expected
    Exact,
    // one error that ended the run, no marker (a report that the worker
    // emitted before the error may still arrive after it)
    Refused,
    // the run ended; every expected entry is installed exactly or named in an
    // error: nothing is lost without a word, nothing installed under another name
    Accounted,
};

// Empty when the run ended as `outcome` says, else what went wrong.
QString verify(Outcome outcome, const Reports &reports, const QMap<QByteArray, QByteArray> &expected,
               const QByteArray &destination);

// Delivers every queued report (they take up to two hops).
void deliverQueuedReports();

// Whether a worker thread of an installation runs in this process (the
// toolkit names a thread after its class).
bool workerRunning();

// Open file descriptors and threads of this process.
int openDescriptors();
int threads();

// Removes a tree without following links, whatever its permissions.
void removeTree(const QByteArray &path);

// Makes the path and its ancestors up to /tmp traversable by anyone, so that
// an unprivileged helper reaches it.
bool openUpTo(const QString &path);

} // namespace Reliability

#endif
