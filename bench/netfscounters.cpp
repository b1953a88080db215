#include "bench/netfscounters.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

namespace NetFs {

namespace {

const char *const names[int(Op::Count)] = {
    "lookup", "getattr", "setattr", "readlink", "mknod", "mkdir", "unlink", "rmdir",
    "symlink", "rename", "link", "open", "read", "write", "flush", "release", "fsync",
    "opendir", "readdir", "releasedir", "fsyncdir", "statfs", "create",
};

void sleepUntil(int64_t deadlineNs)
{
    timespec until;
    until.tv_sec = time_t(deadlineNs / 1000000000);
    until.tv_nsec = long(deadlineNs % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

} // namespace

int64_t monotonicNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

const char *opName(Op op)
{
    return names[int(op)];
}

Op opNamed(const std::string &name)
{
    for (int i = 0; i < int(Op::Count); ++i)
        if (name == names[i])
            return Op(i);
    return Op::Count;
}

Counters::Counters(int64_t roundTripNs, uint32_t slowOps)
    : m_roundTripNs(roundTripNs)
    , m_slowOps(slowOps)
{
}

Counters::Call::Call(Counters &counters, Op op)
    : m_counters(counters)
    , m_op(op)
    , m_start(counters.begin(op))
{
    if (counters.isSlow(op) && counters.m_roundTripNs > 0)
        sleepUntil(m_start + counters.m_roundTripNs);
}

Counters::Call::~Call()
{
    m_counters.end(m_op, m_start);
}

int64_t Counters::begin(Op op)
{
    const int64_t now = monotonicNs();
    if (!isSlow(op))
        return now;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_waiting++ == 0)
        m_waitingSince = now;
    m_mostWaiting = std::max(m_mostWaiting, m_waiting);
    return now;
}

void Counters::end(Op op, int64_t start)
{
    const int64_t now = monotonicNs();
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_calls[int(op)];
    m_ns[int(op)] += now - start;
    if (isSlow(op) && --m_waiting == 0)
        m_waitingNs += now - m_waitingSince;
}

std::string Counters::report(bool summary)
{
    const int64_t now = monotonicNs();
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string text;
    char line[128];
    for (int i = 0; i < int(Op::Count); ++i) {
        if (summary && m_calls[i] == 0)
            continue;
        std::snprintf(line, sizeof line, "%s %" PRIu64 " %" PRId64 " %d\n", names[i],
                      m_calls[i], m_ns[i] / 1000, isSlow(Op(i)) ? 1 : 0);
        text += line;
    }
    const int64_t waiting = m_waitingNs + (m_waiting > 0 ? now - m_waitingSince : 0);
    std::snprintf(line, sizeof line,
                  "round-trip-us %" PRId64 "\nmost-waiting %d\nwaiting-us %" PRId64 "\n",
                  m_roundTripNs / 1000, m_mostWaiting, waiting / 1000);
    text += line;
    m_mostWaiting = m_waiting;
    return text;
}

} // namespace NetFs
