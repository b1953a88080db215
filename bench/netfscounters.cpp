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
    , m_start(monotonicNs())
{
    if (!counters.isSlow(op))
        return;
    counters.beginWaiting(m_start);
    const int64_t due = m_start + counters.m_roundTripNs;
    sleepUntil(due);
    // The round trip is over when it is due, not once the answer has gone:
    // by then the client may have sent its next call.
    counters.endWaiting(due);
}

Counters::Call::~Call()
{
    m_counters.end(m_op, m_start);
}

void Counters::beginWaiting(int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_waiting++ == 0)
        m_waitingSince = now;
    m_mostWaiting = std::max(m_mostWaiting, m_waiting);
}

void Counters::endWaiting(int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (--m_waiting == 0)
        m_waitingNs += std::max<int64_t>(0, now - m_waitingSince);
}

void Counters::end(Op op, int64_t start)
{
    const int64_t now = monotonicNs();
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_calls[int(op)];
    m_ns[int(op)] += now - start;
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
