#ifndef ZARVO_DESKTOP_DESKTOPENTRY_H
#define ZARVO_DESKTOP_DESKTOPENTRY_H

#include "installer/desktop/desktopstep.h"

#include <QString>

class Installer;

// Rewrites D/icons/<desktopFileName> in place for the installation in D: every
// Exec= line runs D/bin/<programName> -gui, a TryExec= line names that program,
// and Name= lines show the suite's version. The file is replaced, keeping its
// mode, owner and group; an entry that leads outside D is left alone and
// reported. Returns the one step it took.
DesktopSteps rewriteDesktopEntry(Installer &installer, const QString &installDir,
                                 const QString &desktopFileName, const QString &programName);

// The text of a desktop entry after that rewrite, for the program at
// programPath.
QString rewrittenDesktopEntry(const QString &text, const QString &programPath,
                              const QString &version);

// programPath as the program of an Exec= value: quoted when it holds a
// character that the desktop-entry format reserves, with a literal percent
// doubled, and escaped as any string value of such a file.
QString desktopExecProgram(const QString &programPath);

#endif
