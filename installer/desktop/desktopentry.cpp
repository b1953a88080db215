#include "installer/desktop/desktopentry.h"

void rewriteDesktopEntry(Installer &, const QString &, const QString &, const QString &)
{
}
