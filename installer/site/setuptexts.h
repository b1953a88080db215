#ifndef ZARVO_SITE_SETUPTEXTS_H
#define ZARVO_SITE_SETUPTEXTS_H

#include <QString>

// The module users load: "corvane-zarvo/<version>".
extern const char moduleName[];
// Set to the installation by the modulefile and the shell set-up scripts.
extern const char rootVariable[];

// What the set-up of one installation needs to know.
struct SetupInstallation
{
    // Absolute; the programs are in its "bin".
    QString root;
    QString version;
    // The manual pages' directory below root ("share/man"), empty when the
    // installation has none.
    QString manualPages;
};

// A Tcl modulefile that Lmod and Environment Modules both read: the
// installation's programs first on PATH (and its manual pages on MANPATH),
// its root in rootVariable, a conflict with every other version, a one-line
// description and a help text.
QString moduleFileText(const SetupInstallation &installation);

// The same set-up for shells without a module system, to be sourced by a
// Bourne-family shell (sh, bash, ksh, zsh) and by a C shell (csh, tcsh).
// Sourcing one again is harmless; while another installation of the suite is
// set up in the shell, it says so and changes nothing.
QString shSetupText(const SetupInstallation &installation);
QString cshSetupText(const SetupInstallation &installation);

#endif
