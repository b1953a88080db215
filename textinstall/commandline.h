#ifndef ZARVO_TEXTINSTALL_COMMANDLINE_H
#define ZARVO_TEXTINSTALL_COMMANDLINE_H

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// The text installer's command line:
// [--accept-licence] [--yes] [--all-users] [--group NAME] [--modulefiles DIR]
// [--no-space-check] [--help] [--] [install-directory]
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
    bool noSpaceCheck() const { return m_noSpaceCheck; }
    // The group to give the installation to; a null string when none was given.
    QString group() const { return m_group; }
    // The site's module tree that gets the modulefile too; null when none.
    QString moduleTree() const { return m_moduleTree; }
    // The install directory as given; a null string when none was.
    QString installDirectory() const { return m_installDirectory; }

    QString usage() const;

private:
    // The value of an option that takes one, as "--name value" or
    // "--name=value"; false when `argument` is another option.
    bool takeValue(const QString &name, const QStringList &arguments, int *i, QString *value);

    Outcome m_outcome = Run;
    QString m_problem;
    QString m_program;
    bool m_acceptLicence = false;
    bool m_assumeYes = false;
    bool m_allUsers = false;
    bool m_noSpaceCheck = false;
    QString m_group;
    QString m_moduleTree;
    QString m_installDirectory;
};

#endif
