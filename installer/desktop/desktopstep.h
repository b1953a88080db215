#ifndef ZARVO_DESKTOP_DESKTOPSTEP_H
#define ZARVO_DESKTOP_DESKTOPSTEP_H

#include <QString>
#include <QStringList>
#include <QVector>

// What one step of the desktop integration did: which program ran with
// which file and install mode, and whether it succeeded. The operations
// return them, so that a caller can tell a clean registration from one with
// problems and keep a record of what was registered.
struct DesktopStep
{
    enum Kind { EntryRewrite, IconInstall, MenuInstall, FileAssociation, PostInstallScript };

    DesktopStep(Kind kind, const QString &file, const QString &program = QString(),
                const QStringList &arguments = QStringList())
        : kind(kind), file(file), program(program), arguments(arguments)
    {
    }

    Kind kind;
    // The file the step rewrote or handed over.
    QString file;
    // The program run and its arguments; empty for the entry rewrite.
    QString program;
    QStringList arguments;
    // XDG_UTILS_INSTALL_MODE as the program saw it; empty when unset.
    QString installMode;
    // The program's status (-2: not started, -1: crashed or stopped at its
    // time limit); 0 for a rewrite that was written.
    int status = 0;
    bool succeeded = false;
    // What the user was told about a failure; empty when nothing.
    QString problem;
};
using DesktopSteps = QVector<DesktopStep>;

// True when a step showed the user a problem.
inline bool problemShown(const DesktopSteps &steps)
{
    for (const DesktopStep &step : steps) {
        if (!step.problem.isEmpty())
            return true;
    }
    return false;
}

#endif
