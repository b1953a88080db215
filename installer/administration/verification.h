#ifndef ZARVO_ADMINISTRATION_VERIFICATION_H
#define ZARVO_ADMINISTRATION_VERIFICATION_H

#include "installer/administration/record.h"

#include <string>
#include <vector>

namespace Administration {

class InstalledTree;

// How an entry of the record differs from what is there now.
struct Finding
{
    bool missing = false;
    bool type = false;       // a different kind of entry stands there
    bool size = false;
    bool mode = false;
    bool content = false;
    bool target = false;     // a link leads elsewhere
    bool unreadable = false; // the content could not be read to compare it

    bool same() const { return !(missing || type || size || mode || content || target || unreadable); }
    // The installation's own content is there: a changed mode alone does
    // not make a file the site's.
    bool contentKept() const { return !(missing || type || size || content || target || unreadable); }
    // The first column of a verify line, in the style of package managers:
    // "missing", "type", or one letter per check that failed, a dot for one
    // that passed (S size, M mode, 5 content, L link target; ? unreadable).
    std::string flags() const;
};

Finding examine(InstalledTree &tree, const Entry &entry);

// The entries below the installation that no record names, not counting
// the marker, the record and the log that every installation holds; a
// directory that is not in the record is named alone, with a "/" at its end.
std::vector<std::string> addedEntries(InstalledTree &tree, const Record &record);

// Names the installer keeps at the top of every installation besides what
// the record lists.
bool isOwnFile(const std::string &path);
extern const char markerName[];
extern const char logName[];
// A record being rewritten.
extern const char newRecordName[];

} // namespace Administration

#endif
