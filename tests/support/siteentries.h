#ifndef ZARVO_TESTS_SITEENTRIES_H
#define ZARVO_TESTS_SITEENTRIES_H

#include "installer/site/sitefiles.h"

#include <QStringList>

// What every installation holds beside its payload: the modulefile and the
// shell set-up scripts, and the directories above them, relative to the
// installation, parents first. (Needs zarvo_site.)
inline QStringList siteEntries()
{
    QStringList entries;
    for (const QString &file : SiteFiles::installedFiles()) {
        for (int slash = 0; (slash = file.indexOf(QLatin1Char('/'), slash + 1)) > 0;)
            entries << file.left(slash);
        entries << file;
    }
    entries.removeDuplicates();
    return entries;
}

#endif
