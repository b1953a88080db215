#ifndef ZARVO_BENCH_BENCHCOMMON_H
#define ZARVO_BENCH_BENCHCOMMON_H

#include <QString>

#include <string>
#include <vector>

namespace Bench {

struct RunResult
{
    int status = -1;     // exit status, or -1 when the program did not end normally
    double seconds = 0;  // wall time from start to end
    double cpuSeconds = 0; // user and system time of the program and its children
    long rssKb = 0;      // peak resident set of the program itself
    std::string output;  // standard output, when asked for
};

// Runs a program (no shell) under /usr/bin/time, which reports its peak RSS
// without counting ours.
RunResult run(const std::vector<std::string> &command, bool captureOutput = false);

struct TreeSummary
{
    long files = 0;       // non-directories, links followed, hidden names left out
    long directories = 0; // below the top
    long long bytes = 0;
};
TreeSummary summarize(const std::string &root);

void readTree(const std::string &root);
void removeTree(const std::string &root);
void makeDirectory(const std::string &path);
long long fileSize(const std::string &path);
std::string slug(const std::string &name);
std::string selfPath();

// Child modes of the benchmark program.
int runEngine(const QString &source, const QString &destination, const std::string &without = {});
int runStall(const QString &source, const QString &destination);

} // namespace Bench

#endif
