#include "installer/desktop/postinstallscript.h"

void runPostInstallScript(Installer &)
{
}
