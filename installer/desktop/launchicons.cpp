#include "installer/desktop/launchicons.h"

void installLaunchIcons(Installer &, const QString &)
{
}

bool isBuildTree()
{
    return false;
}

void installIconsAndMenuEntry(Installer &, const QString &, const QString &, const QString &)
{
}
