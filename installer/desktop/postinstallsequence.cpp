#include "installer/desktop/postinstallsequence.h"

QString missingLibrariesWarning(const QStringList &)
{
    return QString();
}

void runPostInstallSequence(Installer &, const QString &,
                            const std::function<void(const QString &)> &)
{
}
