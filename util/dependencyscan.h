#ifndef ZARVO_UTIL_DEPENDENCYSCAN_H
#define ZARVO_UTIL_DEPENDENCYSCAN_H

#include <QSet>
#include <QString>
#include <QStringList>

// Both scans run "ldd" from the search path on one file and read what it prints.

// Names of the libraries that ldd lists as "not found".
QSet<QString> findMissingLibraries(const QString &file);

// Resolved library paths in ldd's order; names of missing libraries are
// appended to notFound (when not null), which is never cleared.
QStringList resolveLibraryDependencies(const QString &file, QStringList *notFound);

#endif
