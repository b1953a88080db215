#ifndef ZARVO_BENCH_NETFSNODES_H
#define ZARVO_BENCH_NETFSNODES_H

#include <fuse_lowlevel.h>

#include <map>
#include <string>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>

namespace NetFs {

// The objects of the backing directory that the kernel knows by number. Every
// call works on the object itself and never resolves a path again. The kernel
// may keep tens of thousands of them for as long as it likes, more than a
// process may hold open, so each is kept as a file handle and opened for one
// call at a time; where handles cannot be used (they take privilege), each is
// held open instead.
class Nodes
{
public:
    // Number 1 is the kernel's name for the top; 2 is kept for the counters.
    static constexpr fuse_ino_t countersId = 2;

    // An O_PATH descriptor of a node's object for the length of one call: -1
    // when the node is unknown or its object gone (errno tells).
    class Fd
    {
    public:
        Fd(int fd, bool owned) : m_fd(fd), m_owned(owned) {}
        ~Fd();
        Fd(Fd &&other) noexcept : m_fd(other.m_fd), m_owned(other.m_owned) { other.m_fd = -1; }
        Fd(const Fd &) = delete;
        Fd &operator=(const Fd &) = delete;
        Fd &operator=(Fd &&) = delete;
        operator int() const { return m_fd; }

    private:
        int m_fd;
        bool m_owned;
    };

    explicit Nodes(int rootFd);
    ~Nodes();
    Nodes(const Nodes &) = delete;
    Nodes &operator=(const Nodes &) = delete;

    bool holdsDescriptors() const { return !m_byHandle; }
    Fd fd(fuse_ino_t id);
    // Takes the descriptor: the number of the object it refers to, known once
    // more to the kernel.
    fuse_ino_t remember(int fd, const struct stat &st);
    // The kernel dropped count of its references to the node.
    void forget(fuse_ino_t id, uint64_t count);

private:
    struct Node
    {
        std::vector<unsigned char> handle; // a struct file_handle, or empty
        int fd;                            // -1 when there is a handle
        uint64_t lookups;
        std::string key;
    };

    static std::vector<unsigned char> handleOf(int fd);
    // What tells the object from every other: its handle, which names this
    // life of the inode; or its inode, which the held descriptor keeps alive.
    static std::string keyOf(const std::vector<unsigned char> &handle, const struct stat &st);
    int open(const std::vector<unsigned char> &handle) const;

    const int m_rootFd;
    int m_mountFd; // opens handles, which an O_PATH descriptor cannot
    bool m_byHandle = false;
    std::mutex m_mutex;
    std::unordered_map<fuse_ino_t, Node> m_byId;
    std::map<std::string, fuse_ino_t> m_byKey;
    fuse_ino_t m_next = countersId + 1;
};

} // namespace NetFs

#endif
