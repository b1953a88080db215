#include "bench/netfsnodes.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace NetFs {

Nodes::Fd::~Fd()
{
    if (m_owned && m_fd >= 0)
        close(m_fd);
}

Nodes::Nodes(int rootFd)
    : m_rootFd(rootFd)
    , m_mountFd(openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    const std::vector<unsigned char> handle = handleOf(rootFd);
    const int opened = handle.empty() ? -1 : open(handle);
    m_byHandle = opened >= 0;
    if (opened >= 0)
        close(opened);
    struct stat st;
    fstat(rootFd, &st);
    const std::string key = keyOf(m_byHandle ? handle : std::vector<unsigned char>(), st);
    m_byId.emplace(FUSE_ROOT_ID, Node{{}, rootFd, 1, key});
    m_byKey.emplace(key, FUSE_ROOT_ID);
}

Nodes::~Nodes()
{
    if (m_mountFd >= 0)
        close(m_mountFd);
    for (const auto &entry : m_byId)
        if (entry.second.fd >= 0)
            close(entry.second.fd);
}

std::vector<unsigned char> Nodes::handleOf(int fd)
{
    std::vector<unsigned char> buffer(sizeof(file_handle) + MAX_HANDLE_SZ);
    file_handle *handle = reinterpret_cast<file_handle *>(buffer.data());
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    if (name_to_handle_at(fd, "", handle, &mountId, AT_EMPTY_PATH) != 0)
        return {};
    buffer.resize(sizeof(file_handle) + handle->handle_bytes);
    return buffer;
}

std::string Nodes::keyOf(const std::vector<unsigned char> &handle, const struct stat &st)
{
    if (!handle.empty())
        return std::string(handle.begin(), handle.end());
    return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino);
}

int Nodes::open(const std::vector<unsigned char> &handle) const
{
    std::vector<unsigned char> copy = handle; // the call takes a pointer to non-const
    return open_by_handle_at(m_mountFd, reinterpret_cast<file_handle *>(copy.data()),
                             O_PATH | O_CLOEXEC);
}

Nodes::Fd Nodes::fd(fuse_ino_t id)
{
    std::vector<unsigned char> handle;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_byId.find(id);
        if (found == m_byId.end()) {
            errno = ESTALE;
            return Fd(-1, false);
        }
        // The kernel forgets no node while a call on it is in hand.
        if (found->second.fd >= 0)
            return Fd(found->second.fd, false);
        handle = found->second.handle;
    }
    return Fd(open(handle), true);
}

fuse_ino_t Nodes::remember(int fd, const struct stat &st)
{
    std::vector<unsigned char> handle;
    if (m_byHandle) {
        handle = handleOf(fd);
        if (!handle.empty()) {
            close(fd);
            fd = -1;
        }
    }
    const std::string key = keyOf(handle, st);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto known = m_byKey.find(key);
    if (known != m_byKey.end()) {
        if (fd >= 0)
            close(fd);
        ++m_byId.at(known->second).lookups;
        return known->second;
    }
    const fuse_ino_t id = m_next++;
    m_byId.emplace(id, Node{std::move(handle), fd, 1, key});
    m_byKey.emplace(key, id);
    return id;
}

void Nodes::forget(fuse_ino_t id, uint64_t count)
{
    if (id == FUSE_ROOT_ID)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_byId.find(id);
    if (found == m_byId.end())
        return;
    Node &node = found->second;
    node.lookups -= std::min(count, node.lookups);
    if (node.lookups > 0)
        return;
    if (node.fd >= 0)
        close(node.fd);
    m_byKey.erase(node.key);
    m_byId.erase(found);
}

} // namespace NetFs
