#ifndef ZARVO_LOG_INSTALLATIONLOG_H
#define ZARVO_LOG_INSTALLATIONLOG_H

#include "installer/desktop/desktopstep.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class Installer;
class TreePermissions;
class UserPrompt;

// The log of one run of either front end, in the user's state directory
// ($XDG_STATE_HOME/corvane-zarvo, by default ~/.local/state/corvane-zarvo),
// and for a completed installation also inside it, next to its record. One
// line per event, each with its time stamp (UTC):
//
//   2026-12-08T11:44:18.123Z <kind> <text>
//
// kinds: version, user, option, command (the textinstall command line that
// repeats the run's choices), status, question, answer, warning, error,
// cancelled, finished, note. A line break inside a text is written "\n".
// Each line is handed to the system as it is written, so a run that is
// killed still leaves what it had logged.
class InstallationLog : public QObject
{
    Q_OBJECT

public:
    explicit InstallationLog(QObject *parent = nullptr);
    ~InstallationLog() override;

    // Starts a new log file; false when none can be written (the run goes on
    // without one).
    bool open();
    // Where the log is, for the messages that point to it.
    QString path() const { return m_file.isOpen() ? m_file.fileName() : QString(); }
    // The sentence that tells the user where the log is; empty without one.
    QString whereSentence() const;

    // The versions and who runs it, the options and the textinstall command
    // line that repeats the choices.
    void writeHeader(const QStringList &options, const QString &command);
    // The textinstall command line for an installation into `destination`;
    // `options` ("--name", "value", ...) come before the destination.
    static QString equivalentCommand(const QString &destination, bool reuseExisting,
                                     bool allUsers, bool skipSpaceCheck,
                                     const QStringList &options = {});

    // Logs every report of `installer` as it arrives; other receivers get
    // them as before.
    void observe(Installer *installer);
    // A prompt that logs every question with its answer and every message,
    // and passes them on to `prompt`. Owned by the log.
    UserPrompt *loggingPrompt(UserPrompt *prompt);

    void write(const QString &kind, const QString &text);
    // A copy of the log so far as `directory`/.installation.log.
    bool copyInto(const QString &directory);
    // After the post-install sequence of a completed installation: adds
    // its steps to the installation's record and puts a copy of the log
    // next to it, both with the installation's permissions. What fails is
    // logged as a warning; the installation stays as it is.
    void keepWithInstallation(const QString &destination, const DesktopSteps &steps,
                              const TreePermissions &permissions);

public slots:
    void status(const QString &text) { write(QStringLiteral("status"), text); }
    void error(const QString &text) { write(QStringLiteral("error"), text); }
    void cancelled() { write(QStringLiteral("cancelled"), QString()); }
    void finished() { write(QStringLiteral("finished"), QString()); }

private:
    QFile m_file;
    std::unique_ptr<UserPrompt> m_prompt;
};

#endif
