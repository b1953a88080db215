#include "util/sourcelisting.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirectoryCloser
{
    void operator()(DIR *directory) const { ::closedir(directory); }
};

} // namespace

int listDirectory(int directory, std::vector<ListedEntry> *entries)
{
    const int handle = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
    const std::unique_ptr<DIR, DirectoryCloser> stream(handle < 0 ? nullptr
                                                                  : ::fdopendir(handle));
    if (!stream) {
        const int error = errno;
        if (handle >= 0)
            ::close(handle);
        return error;
    }
    for (;;) {
        errno = 0;
        const dirent *item = ::readdir(stream.get());
        if (!item) {
            if (errno != 0)
                return errno;
            break;
        }
        const QByteArray name(item->d_name);
        if (name.startsWith('.'))
            continue;
        struct stat st = {};
        int error = 0;
        if (::fstatat(directory, item->d_name, &st, 0) != 0) {
            // A broken link, or one that loops, is no file of the tree.
            if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP)
                continue;
            error = errno;
        } else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
            continue;
        }
        entries->push_back({name, QFile::decodeName(name).toLower(), S_ISDIR(st.st_mode),
                            st.st_dev, st.st_ino, qint64(st.st_size), error});
    }
    // Names that decode alike keep an order of their own.
    std::sort(entries->begin(), entries->end(), [](const ListedEntry &a, const ListedEntry &b) {
        const int byKey = a.sortKey.compare(b.sortKey);
        return byKey != 0 ? byKey < 0 : a.name < b.name;
    });
    return 0;
}
