#ifndef ZARVO_DESKTOP_DESKTOPENTRY_H
#define ZARVO_DESKTOP_DESKTOPENTRY_H

#include <QString>

class Installer;

// Rewrites D/icons/<desktopFileName> in place for the installation in D.
void rewriteDesktopEntry(Installer &installer, const QString &installDir,
                         const QString &desktopFileName, const QString &programName);

#endif
