#ifndef ZARVO_BENCH_CALLCOUNTS_H
#define ZARVO_BENCH_CALLCOUNTS_H

#include <map>
#include <string>
#include <vector>

namespace Bench {

// What the stand-in file system (zarvo_netfs) was asked, read from its
// counters file: calls and microseconds per operation, the operations that
// wait a round trip, the time with at least one of those in hand and the most
// in hand at once.
struct CallCounts
{
    std::map<std::string, long long> calls;
    std::map<std::string, long long> micros;
    std::map<std::string, bool> slow;
    std::vector<std::string> order; // the operations as the file lists them
    long long roundTripUs = 0;
    long long waitingUs = 0;
    int mostWaiting = 0;
    double wallSeconds = 0; // of the runs added up, filled in by the caller
    int runs = 0;           // added up

    // Empty (no calls) when the file cannot be read.
    static CallCounts read(const std::string &path);
    // What was asked between two readings; the most in hand is the later one's.
    CallCounts since(const CallCounts &before) const;
    void add(const CallCounts &run);
};

// One column per runner, the mean of its runs: the calls per file of each
// operation; per file, the round trips and the time the calls that make them
// took, from arrival to answer; the share of the wall time with a round trip
// under way, and how many were under way at once (the mean while any was,
// and the most).
void printCallsPerFile(const std::vector<std::string> &runners,
                       const std::map<std::string, CallCounts> &counts, double files,
                       long directories);

} // namespace Bench

#endif
