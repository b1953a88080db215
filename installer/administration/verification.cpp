#include "installer/administration/verification.h"

#include "installer/administration/installedtree.h"

#include <cerrno>
#include <set>

namespace Administration {

const char markerName[] = ".installed";
const char logName[] = ".installation.log";
const char newRecordName[] = ".installation-record.new";

bool isOwnFile(const std::string &path)
{
    return path == markerName || path == Record::fileName || path == newRecordName
        || path == logName;
}

std::string Finding::flags() const
{
    if (missing)
        return "missing";
    if (type)
        return "type";
    return std::string() + (size ? 'S' : '.') + (mode ? 'M' : '.')
        + (unreadable ? '?' : content ? '5' : '.') + (target ? 'L' : '.');
}

Finding examine(InstalledTree &tree, const Entry &entry)
{
    Finding finding;
    struct stat st;
    if (!tree.status(entry.path, &st)) {
        // Also when a directory on the way is no longer one: the entry is
        // not inside the installation any more.
        finding.missing = errno == ENOENT || errno == ENOTDIR || errno == ELOOP;
        finding.unreadable = !finding.missing;
        return finding;
    }
    const bool typeMatches = entry.type == Entry::Directory ? S_ISDIR(st.st_mode)
        : entry.type == Entry::Link                          ? S_ISLNK(st.st_mode)
                                                             : S_ISREG(st.st_mode);
    if (!typeMatches) {
        finding.type = true;
        return finding;
    }
    // A link's own mode means nothing on Linux.
    finding.mode = entry.type != Entry::Link && (st.st_mode & 07777) != (entry.mode & 07777);
    if (entry.type == Entry::Link) {
        std::string target;
        finding.unreadable = !tree.readLink(entry.path, &target);
        finding.target = !finding.unreadable && target != entry.target;
    } else if (entry.type == Entry::File) {
        finding.size = st.st_size != entry.size;
        if (finding.size) {
            finding.content = true;
        } else {
            const std::string hash = tree.hash(entry.path);
            finding.unreadable = hash.empty();
            finding.content = !finding.unreadable && hash != entry.hash;
        }
    }
    return finding;
}

namespace {

void findAdded(InstalledTree &tree, const std::set<std::string> &recorded, const std::string &path,
               std::vector<std::string> *added)
{
    std::vector<std::string> names;
    if (!tree.names(path, &names))
        return;
    for (const std::string &name : names) {
        const std::string inner = path.empty() ? name : path + '/' + name;
        struct stat st;
        const bool directory = tree.status(inner, &st) && S_ISDIR(st.st_mode);
        if (recorded.count(inner)) {
            if (directory)
                findAdded(tree, recorded, inner, added);
        } else if (!(path.empty() && isOwnFile(name))) {
            added->push_back(directory ? inner + '/' : inner);
        }
    }
}

} // namespace

std::vector<std::string> addedEntries(InstalledTree &tree, const Record &record)
{
    std::set<std::string> recorded;
    for (const Entry &entry : record.entries)
        recorded.insert(entry.path);
    std::vector<std::string> added;
    findAdded(tree, recorded, std::string(), &added);
    return added;
}

} // namespace Administration
