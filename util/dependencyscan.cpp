#include "util/dependencyscan.h"

QSet<QString> findMissingLibraries(const QString &)
{
    return {};
}

QStringList resolveLibraryDependencies(const QString &, QStringList *)
{
    return {};
}
