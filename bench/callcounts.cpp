#include "bench/callcounts.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace Bench {

CallCounts CallCounts::read(const std::string &path)
{
    CallCounts counts;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string name;
        long long first = 0, second = 0;
        int isSlow = 0;
        if (!(fields >> name >> first))
            continue;
        if (name == "round-trip-us")
            counts.roundTripUs = first;
        else if (name == "waiting-us")
            counts.waitingUs = first;
        else if (name == "most-waiting")
            counts.mostWaiting = int(first);
        else if (fields >> second >> isSlow) {
            counts.calls[name] = first;
            counts.micros[name] = second;
            counts.slow[name] = isSlow != 0;
            counts.order.push_back(name);
        }
    }
    return counts;
}

CallCounts CallCounts::since(const CallCounts &before) const
{
    CallCounts run = *this;
    for (auto &entry : run.calls)
        entry.second -= before.calls.count(entry.first) ? before.calls.at(entry.first) : 0;
    for (auto &entry : run.micros)
        entry.second -= before.micros.count(entry.first) ? before.micros.at(entry.first) : 0;
    run.waitingUs -= before.waitingUs;
    return run;
}

void CallCounts::add(const CallCounts &run)
{
    for (const auto &entry : run.calls)
        calls[entry.first] += entry.second;
    for (const auto &entry : run.micros)
        micros[entry.first] += entry.second;
    for (const auto &entry : run.slow)
        slow[entry.first] = entry.second;
    roundTripUs = run.roundTripUs;
    waitingUs += run.waitingUs;
    order = run.order;
    mostWaiting = std::max(mostWaiting, run.mostWaiting);
    wallSeconds += run.wallSeconds;
    ++runs;
}

void printCallsPerFile(const std::vector<std::string> &runners,
                       const std::map<std::string, CallCounts> &counts, double files,
                       long directories)
{
    std::vector<const CallCounts *> columns;
    for (const std::string &runner : runners) {
        const auto found = counts.find(runner);
        if (found == counts.end() || found->second.runs == 0 || found->second.order.empty())
            return;
        columns.push_back(&found->second);
    }
    if (columns.empty() || files <= 0)
        return;
    std::printf("\ncalls per file on the stand-in (%.0f files, %ld directories; a round trip "
                "of %lld us on each call marked *):\n%-16s",
                files, directories, columns.front()->roundTripUs, "");
    for (const std::string &runner : runners)
        std::printf(" %16s", runner.c_str());
    std::printf("\n");

    auto row = [&](const char *label, auto value, const char *format) {
        std::printf("%-16s", label);
        for (const CallCounts *c : columns) {
            char cell[32];
            std::snprintf(cell, sizeof cell, format, value(*c));
            std::printf(" %16s", cell);
        }
        std::printf("\n");
    };
    auto perFile = [files](const CallCounts &c, double total) { return total / c.runs / files; };

    for (const std::string &op : columns.front()->order) {
        bool seen = false;
        for (const CallCounts *c : columns)
            seen = seen || perFile(*c, double(c->calls.at(op))) >= 0.005;
        if (!seen)
            continue;
        const std::string label = op + (columns.front()->slow.at(op) ? " *" : "");
        row(label.c_str(), [&](const CallCounts &c) { return perFile(c, double(c.calls.at(op))); },
            "%.2f");
    }
    auto sumOf = [](const CallCounts &c, const std::map<std::string, long long> &values,
                    bool slowOnly) {
        double sum = 0;
        for (const auto &entry : values)
            if (!slowOnly || c.slow.at(entry.first))
                sum += double(entry.second);
        return sum;
    };
    row("round trips", [&](const CallCounts &c) { return perFile(c, sumOf(c, c.calls, true)); },
        "%.2f");
    row("waited", [&](const CallCounts &c) { return perFile(c, sumOf(c, c.micros, true)) / 1e3; },
        "%.2f ms");
    row("round-trip share",
        [](const CallCounts &c) {
            return c.wallSeconds > 0 ? double(c.waitingUs) / 1e4 / c.wallSeconds : 0.0;
        },
        "%.0f %%");
    row("at once, mean",
        [&](const CallCounts &c) {
            return c.waitingUs > 0
                ? sumOf(c, c.calls, true) * double(c.roundTripUs) / double(c.waitingUs)
                : 0.0;
        },
        "%.2f");
    row("at once, most", [](const CallCounts &c) { return c.mostWaiting; }, "%d");
}

} // namespace Bench
