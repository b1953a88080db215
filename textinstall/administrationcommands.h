#ifndef ZARVO_TEXTINSTALL_ADMINISTRATIONCOMMANDS_H
#define ZARVO_TEXTINSTALL_ADMINISTRATIONCOMMANDS_H

#include "textinstall/commandline.h"

#include <QString>

class Console;

// The actions of the command line besides installing. Each prints what it
// found and returns the exit status; none needs a display or a licence answer.

// The installer's and the product's version.
int showVersions(Console &console);
// --info, --list or --check of the installation files in `sourceDir`.
int inspectInstallationFiles(Console &console, CommandLine::Action action, const QString &sourceDir);
// --uninstall or --verify of the installation the command line names.
int administerInstallation(const CommandLine &commandLine);

#endif
