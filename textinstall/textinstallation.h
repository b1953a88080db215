#ifndef ZARVO_TEXTINSTALL_TEXTINSTALLATION_H
#define ZARVO_TEXTINSTALL_TEXTINSTALLATION_H

#include "installer/desktop/postinstallsequence.h"

#include <QEventLoop>
#include <QObject>
#include <QString>

#include <sys/types.h>

class Console;
class InstallationLog;
class Installer;
class ProgressPrinter;
class SignalWatcher;
class TerminalPrompt;

// Exit statuses of the text installer.
enum TextInstallStatus {
    InstallSucceeded = 0,
    InstallFailed = 1,
    InstallUsageError = 2,
    // The files are installed, but the desktop integration or the
    // post-install script reported a problem.
    InstallIncomplete = 3,
    InstallInterrupted = 130,
};

// One installation driven from the terminal: starts the engine, shows its
// progress and errors, cancels it on SIGINT or SIGTERM, runs the after-work
// when it has finished without an error, and gives the exit status.
class TextInstallation : public QObject
{
    Q_OBJECT

public:
    TextInstallation(Console &console, TerminalPrompt &prompt, SignalWatcher *watcher,
                     QObject *parent = nullptr);
    ~TextInstallation() override;

    // 0 system-wide, anything else per-user (the default).
    void setInstallMode(int mode) { m_installMode = mode; }
    // Passed on to the Installer (see there); the group's name is for the log.
    void setGroup(gid_t group, const QString &name = QString())
    {
        m_group = group;
        m_groupName = name;
        m_hasGroup = true;
    }
    void setModuleTree(const QString &directory) { m_moduleTree = directory; }
    // What the after-work leaves out.
    void setPostInstallChoices(const PostInstallChoices &choices) { m_choices = choices; }
    void setSpaceCheck(bool on) { m_spaceCheck = on; }

    // Runs the installation to its end and returns the exit status.
    int run(const QString &source, const QString &destination);

private slots:
    void installerError(const QString &message);
    void installerCancelled();
    void installerFinished();
    void interrupt();
    // The worker's run has returned, after a finish, an error that ended it,
    // or a cancellation.
    void workerStopped();

private:
    void reportFailure();
    void conclude(int status);
    // The options of this run as textinstall takes them, for the log.
    QStringList commandOptions() const;

    Console &m_console;
    TerminalPrompt &m_prompt;
    SignalWatcher *m_watcher;
    int m_installMode = 1;
    bool m_hasGroup = false;
    gid_t m_group = 0;
    QString m_groupName;
    QString m_moduleTree;
    PostInstallChoices m_choices;
    bool m_spaceCheck = true;
    Installer *m_installer = nullptr;
    InstallationLog *m_log = nullptr;
    ProgressPrinter *m_printer = nullptr;
    QString m_destination;
    QEventLoop m_loop;
    bool m_hadError = false;
    bool m_cancelRequested = false;
    bool m_concluded = false;
    int m_status = InstallFailed;
};

#endif
