#ifndef ZARVO_BENCH_NETFSCOUNTERS_H
#define ZARVO_BENCH_NETFSCOUNTERS_H

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace NetFs {

// The calls the kernel can send to the stand-in file system.
enum class Op {
    Lookup, Getattr, Setattr, Readlink, Mknod, Mkdir, Unlink, Rmdir, Symlink, Rename, Link,
    Open, Read, Write, Flush, Release, Fsync, Opendir, Readdir, Releasedir, Fsyncdir, Statfs,
    Create, Count
};

const char *opName(Op op);
// The operation of that name; Op::Count when there is none.
Op opNamed(const std::string &name);

// What the clients asked of the file system: calls and time per operation,
// and how many of the calls that wait a round trip were in hand at once (the
// others, such as the release the kernel sends without waiting, overlap
// anything without anyone waiting for them). Shared by all worker threads.
class Counters
{
public:
    // One call, from its arrival to the end of its scope (the reply is sent
    // inside it). A slow operation waits out the round trip first, as a
    // client of a network file system waits for the server's answer; that
    // wait is the round trip in hand.
    class Call
    {
    public:
        Call(Counters &counters, Op op);
        ~Call();
        Call(const Call &) = delete;
        Call &operator=(const Call &) = delete;

    private:
        Counters &m_counters;
        Op m_op;
        int64_t m_start;
    };

    Counters(int64_t roundTripNs, uint32_t slowOps);

    bool isSlow(Op op) const { return m_slowOps & (1u << unsigned(op)); }
    static uint32_t bit(Op op) { return 1u << unsigned(op); }

    // One line per operation, "name calls microseconds slow", then the round
    // trip, the most round trips in hand at once since the previous report and
    // the time with at least one in hand. A summary leaves out the operations
    // never called.
    std::string report(bool summary = false);

private:
    void beginWaiting(int64_t now);
    void endWaiting(int64_t now);
    void end(Op op, int64_t start);

    const int64_t m_roundTripNs;
    const uint32_t m_slowOps;
    std::mutex m_mutex;
    uint64_t m_calls[int(Op::Count)] = {};
    int64_t m_ns[int(Op::Count)] = {};
    int m_waiting = 0; // round trips in hand
    int m_mostWaiting = 0;
    int64_t m_waitingSince = 0;
    int64_t m_waitingNs = 0;
};

int64_t monotonicNs();

} // namespace NetFs

#endif
