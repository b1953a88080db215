#include "installer/administration/installedtree.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace Administration {

namespace {

const int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string parentPath(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string lastName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string contentHash(int fd)
{
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    static thread_local char buffer[256 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::string();
        if (got == 0)
            break;
        XXH3_128bits_update(&state, buffer, size_t(got));
    }
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&state));
    static const char digits[] = "0123456789abcdef";
    std::string text = "xxh128:";
    for (const unsigned char byte : canonical.digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

bool InstalledTree::open(const std::string &directory)
{
    m_top = Descriptor(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    m_keptPath.clear();
    m_kept = Descriptor();
    return m_top.isValid();
}

int InstalledTree::parentOf(const std::string &path, std::string *name)
{
    *name = lastName(path);
    const std::string parent = parentPath(path);
    if (parent.empty())
        return m_top.get();
    if (m_kept.isValid() && parent == m_keptPath)
        return m_kept.get();
    Descriptor directory(::fcntl(m_top.get(), F_DUPFD_CLOEXEC, 0));
    size_t start = 0;
    while (directory.isValid() && start <= parent.size()) {
        const size_t end = std::min(parent.find('/', start), parent.size());
        directory = Descriptor(
            ::openat(directory.get(), parent.substr(start, end - start).c_str(), directoryFlags));
        start = end + 1;
    }
    if (!directory.isValid())
        return -1;
    m_kept = std::move(directory);
    m_keptPath = parent;
    return m_kept.get();
}

bool InstalledTree::status(const std::string &path, struct stat *st)
{
    std::string name;
    const int parent = parentOf(path, &name);
    return parent >= 0 && ::fstatat(parent, name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string InstalledTree::hash(const std::string &path)
{
    std::string name;
    const int parent = parentOf(path, &name);
    // Not opened blocking: a pipe put in the file's place must not hold the run up.
    const Descriptor file(parent < 0 ? -1
                                     : ::openat(parent, name.c_str(),
                                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file.isValid() || ::fstat(file.get(), &st) != 0)
        return std::string();
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return std::string();
    }
    return contentHash(file.get());
}

bool InstalledTree::readLink(const std::string &path, std::string *target)
{
    std::string name;
    const int parent = parentOf(path, &name);
    char buffer[4096];
    const ssize_t length = parent < 0 ? -1 : ::readlinkat(parent, name.c_str(), buffer, sizeof buffer);
    if (length < 0)
        return false;
    target->assign(buffer, size_t(length));
    return true;
}

bool InstalledTree::names(const std::string &path, std::vector<std::string> *names)
{
    names->clear();
    const int fd = path.empty() ? ::fcntl(m_top.get(), F_DUPFD_CLOEXEC, 0) : [&] {
        std::string name;
        const int parent = parentOf(path, &name);
        return parent < 0 ? -1 : ::openat(parent, name.c_str(), directoryFlags);
    }();
    DIR *listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!listing) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    errno = 0;
    while (const dirent *item = ::readdir(listing)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..")
            names->push_back(name);
    }
    const int error = errno;
    ::closedir(listing);
    std::sort(names->begin(), names->end());
    errno = error;
    return error == 0;
}

bool InstalledTree::remove(const std::string &path, bool directory)
{
    std::string name;
    const int parent = parentOf(path, &name);
    if (parent < 0)
        return errno == ENOENT;
    const int flags = directory ? AT_REMOVEDIR : 0;
    if (directory && (m_keptPath == path || m_keptPath.compare(0, path.size() + 1, path + '/') == 0)) {
        m_kept = Descriptor();
        m_keptPath.clear();
    }
    if (::unlinkat(parent, name.c_str(), flags) == 0 || errno == ENOENT)
        return true;
    struct stat st;
    if (errno != EACCES || ::fstat(parent, &st) != 0 || st.st_uid != ::geteuid()
        || (st.st_mode & S_IWUSR)) {
        return false;
    }
    if (::fchmod(parent, st.st_mode | S_IWUSR | S_IXUSR) != 0)
        return false;
    const bool removed = ::unlinkat(parent, name.c_str(), flags) == 0;
    const int error = errno;
    ::fchmod(parent, st.st_mode & 07777);
    errno = error;
    return removed;
}

bool InstalledTree::removeAll(const std::string &path)
{
    struct stat st;
    if (!status(path, &st))
        return errno == ENOENT;
    if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> inside;
        if (!names(path, &inside)) {
            // Its owner may read it once it allows it.
            std::string name;
            const int parent = parentOf(path, &name);
            if (st.st_uid != ::geteuid() || parent < 0
                || ::fchmodat(parent, name.c_str(), st.st_mode | S_IRWXU, 0) != 0
                || !names(path, &inside))
                return false;
        }
        for (const std::string &name : inside) {
            if (!removeAll(path + '/' + name))
                return false;
        }
    }
    return remove(path, S_ISDIR(st.st_mode));
}

bool InstalledTree::replaceFile(const std::string &name, const std::string &temporary,
                                const std::string &contents)
{
    ::unlinkat(m_top.get(), temporary.c_str(), 0);
    const Descriptor file(::openat(m_top.get(), temporary.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    size_t written = 0;
    while (file.isValid() && written < contents.size()) {
        const ssize_t count = ::write(file.get(), contents.data() + written, contents.size() - written);
        if (count < 0 && errno != EINTR)
            break;
        written += size_t(std::max<ssize_t>(count, 0));
    }
    if (!file.isValid() || written < contents.size() || ::fsync(file.get()) != 0
        || ::renameat(m_top.get(), temporary.c_str(), m_top.get(), name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(m_top.get(), temporary.c_str(), 0);
        errno = error;
        return false;
    }
    return ::fsync(m_top.get()) == 0;
}

} // namespace Administration
