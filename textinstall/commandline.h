#ifndef ZARVO_TEXTINSTALL_COMMANDLINE_H
#define ZARVO_TEXTINSTALL_COMMANDLINE_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The text installer's command line, read by QCommandLineParser: options as
// "--name" (a single dash is read the same way), values as "--name value" or
// "--name=value", "--" before an install directory that starts with a dash.
// Besides installing, it inspects the installation files and administers an
// installation; one such action at a time, each with its own options.
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    enum Outcome { Run, ShowHelp, Invalid };
    enum Action { Install, ShowVersion, ShowInfo, List, Check, Uninstall, Verify };

    // `arguments` starts with the program name.
    explicit CommandLine(const QStringList &arguments);

    Outcome outcome() const { return m_outcome; }
    // Why the command line is Invalid.
    QString problem() const { return m_problem; }
    Action action() const { return m_action; }

    bool acceptLicence() const { return m_flags.contains(QLatin1String("accept-licence")); }
    bool assumeYes() const { return m_flags.contains(QLatin1String("yes")); }
    bool allUsers() const { return m_flags.contains(QLatin1String("all-users")); }
    bool noDesktop() const { return m_flags.contains(QLatin1String("no-desktop")); }
    bool noPostInstall() const { return m_flags.contains(QLatin1String("no-post-install")); }
    // Uninstall: changed and added files go too.
    bool purge() const { return m_flags.contains(QLatin1String("purge")); }
    // Verify: files the record does not know are listed too.
    bool showAdded() const { return m_flags.contains(QLatin1String("added")); }
    bool noSpaceCheck() const { return m_flags.contains(QLatin1String("no-space-check")); }
    // The group to give the installation to; a null string when none was given.
    QString group() const { return m_group; }
    // The site's module tree that gets the modulefile too; null when none.
    QString moduleTree() const { return m_moduleTree; }
    // The install directory as given; a null string when none was.
    QString installDirectory() const { return m_installDirectory; }
    // The installation to uninstall or verify.
    QString installation() const { return m_installation; }

    // The forms of the command line, and all of the help.
    QString synopsis() const;
    QString usage() const;

private:
    bool refuse(const QString &problem);
    bool read(const QStringList &arguments);

    Outcome m_outcome = Run;
    Action m_action = Install;
    QString m_problem;
    QString m_program;
    QStringList m_flags;
    QString m_group;
    QString m_moduleTree;
    QString m_installDirectory;
    QString m_installation;
};

#endif
