#include "installer/transaction/statedirectory.h"

#include "installer/productidentity.h"

#include <QDir>

QString stateDirectory()
{
    // A relative value is invalid and to be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base))
        base = QDir::homePath() + QLatin1String("/.local/state");
    return QDir::cleanPath(base + QLatin1Char('/') + QLatin1String(productIdentity.iconName));
}
