#include "bench/netfsnodes.h"

#include <algorithm>

#include <unistd.h>

namespace NetFs {

Nodes::Nodes(int rootFd)
{
    struct stat st;
    fstat(rootFd, &st);
    m_byId.emplace(FUSE_ROOT_ID, Node{rootFd, 1, {st.st_dev, st.st_ino}});
    m_byKey.emplace(std::make_pair(st.st_dev, st.st_ino), FUSE_ROOT_ID);
}

Nodes::~Nodes()
{
    for (const auto &entry : m_byId)
        close(entry.second.fd);
}

int Nodes::fd(fuse_ino_t id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_byId.find(id);
    return found == m_byId.end() ? -1 : found->second.fd;
}

fuse_ino_t Nodes::remember(int fd, const struct stat &st)
{
    const std::pair<dev_t, ino_t> key(st.st_dev, st.st_ino);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto known = m_byKey.find(key);
    if (known != m_byKey.end()) {
        close(fd);
        ++m_byId.at(known->second).lookups;
        return known->second;
    }
    const fuse_ino_t id = m_next++;
    m_byId.emplace(id, Node{fd, 1, key});
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
    close(node.fd);
    m_byKey.erase(node.key);
    m_byId.erase(found);
}

} // namespace NetFs
