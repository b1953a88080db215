#ifndef ZARVO_BENCH_NETFSNODES_H
#define ZARVO_BENCH_NETFSNODES_H

#include <fuse_lowlevel.h>

#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>

#include <sys/stat.h>

namespace NetFs {

// The objects of the backing directory that the kernel knows by number. Each
// is held open (O_PATH), so that every call works on the object itself and
// never resolves a path again, and so that its inode number cannot be reused
// while the kernel may still ask about it.
class Nodes
{
public:
    // Number 1 is the kernel's name for the top; 2 is kept for the counters.
    static constexpr fuse_ino_t countersId = 2;

    explicit Nodes(int rootFd);
    ~Nodes();
    Nodes(const Nodes &) = delete;
    Nodes &operator=(const Nodes &) = delete;

    // The descriptor of a known node, or -1.
    int fd(fuse_ino_t id);
    // Takes the descriptor: the number of the object it refers to, known once
    // more to the kernel. A second descriptor of a known object is closed.
    fuse_ino_t remember(int fd, const struct stat &st);
    // The kernel dropped count of its references to the node.
    void forget(fuse_ino_t id, uint64_t count);

private:
    struct Node
    {
        int fd;
        uint64_t lookups;
        std::pair<dev_t, ino_t> key;
    };

    std::mutex m_mutex;
    std::unordered_map<fuse_ino_t, Node> m_byId;
    std::map<std::pair<dev_t, ino_t>, fuse_ino_t> m_byKey;
    fuse_ino_t m_next = countersId + 1;
};

} // namespace NetFs

#endif
