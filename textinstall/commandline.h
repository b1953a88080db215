#ifndef ZARVO_TEXTINSTALL_COMMANDLINE_H
#define ZARVO_TEXTINSTALL_COMMANDLINE_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The text installer's command line:
// [--accept-licence] [--yes] [--all-users] [--help] [--] [install-directory]
class CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)

public:
    enum Outcome { Run, ShowHelp, Invalid };

    // `arguments` starts with the program name.
    explicit CommandLine(const QStringList &arguments);

    Outcome outcome() const { return m_outcome; }
    // Why the command line is Invalid.
    QString problem() const { return m_problem; }

    bool acceptLicence() const { return m_acceptLicence; }
    bool assumeYes() const { return m_assumeYes; }
    bool allUsers() const { return m_allUsers; }
    // The install directory as given; a null string when none was.
    QString installDirectory() const { return m_installDirectory; }

    QString usage() const;

private:
    Outcome m_outcome = Run;
    QString m_problem;
    QString m_program;
    bool m_acceptLicence = false;
    bool m_assumeYes = false;
    bool m_allUsers = false;
    QString m_installDirectory;
};

#endif
