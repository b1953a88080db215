#include "installer/installationsource.h"

QString findInstallationSource()
{
    return QString();
}
