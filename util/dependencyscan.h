#ifndef ZARVO_UTIL_DEPENDENCYSCAN_H
#define ZARVO_UTIL_DEPENDENCYSCAN_H

#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// A library that is installed but lacks a symbol version that a program
// needs, so that the program cannot start.
struct MissingVersion
{
    QString library;    // its file name, as "libc.so.6"
    QString version;    // as "GLIBC_2.99"
    QString requiredBy; // the program or library that needs it, as ldd names it

    bool operator==(const MissingVersion &other) const
    {
        return library == other.library && version == other.version
            && requiredBy == other.requiredBy;
    }
};
Q_DECLARE_METATYPE(MissingVersion)

// Both scans run "ldd" from the search path on one file, within the tools'
// time limit, and read what it prints. A library that lacks a version the
// file needs counts as missing too.

// Names of the libraries that ldd lists as "not found" or as lacking a version.
QSet<QString> findMissingLibraries(const QString &file);

// Resolved library paths in ldd's order; names of missing libraries are
// appended to notFound (when not null), which is never cleared. A library
// that lacks versions is appended once per scan, and each version it lacks
// goes to missingVersions (when not null).
QStringList resolveLibraryDependencies(const QString &file, QStringList *notFound,
                                       QVector<MissingVersion> *missingVersions = nullptr);

#endif
