// Installs the reference suite with the real engine and with the tools a user
// would otherwise run, interleaved in the same rounds, and prints wall times,
// ratios to the peer of the same round and peak memory.
//
//   zarvo_bench [--rounds N] [--only archive|copy] [--engines-only] [--no-stall]
//               [--counters FILE] SUITE ARCHIVE_SOURCE WORK
//
// SUITE is the unpacked tree (with bin/pesk), ARCHIVE_SOURCE a directory that
// holds zarvo.tgz made of it, WORK an empty directory for the destinations.
// Each run gets a destination of its own that did not exist before (a path
// re-created right after deleting a tree is slower on some file systems).
// On a tmpfs the destinations of a round are removed after it. Before each
// run, sync() writes the previous runs' data out, so that none pays for it.
// With --counters, WORK lies on the stand-in file system (zarvo_netfs) and FILE
// is its counters file: read before and after each run, it tells the calls
// each tool made of the file system, printed per file after the times.
//
// The same program is its own child for the engine runs:
//   zarvo_bench --engine SOURCE DEST [flush|record]
//                                       one headless InstallThread run,
//                                       optionally without the data flush
//                                       before the commit or without the
//                                       record and its hashes
//   zarvo_bench --stall SOURCE DEST     an installation through Installer,
//                                       printing the longest event-loop stall

#include "bench/benchcommon.h"
#include "bench/callcounts.h"
#include "installer/site/sitefiles.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

struct Runner
{
    std::string name;
    std::string mode; // "archive" or "copy"
    std::string peer; // name of the runner this one is compared to, if any
    bool precreate;   // whether the destination must exist beforehand
    std::vector<std::string> (*command)(const std::string &self, const std::string &suite,
                                        const std::string &archiveSource,
                                        const std::string &destination);
};

std::vector<std::string> engineCommand(const std::string &self, const std::string &source,
                                       const std::string &destination,
                                       const std::string &without = {})
{
    std::vector<std::string> command{self, "--engine", source, destination};
    if (!without.empty())
        command.push_back(without);
    return command;
}

const std::vector<Runner> &runners()
{
    static const std::vector<Runner> all = {
        {"tar -xzf", "archive", "", true,
         [](const std::string &, const std::string &, const std::string &a, const std::string &d) {
             return std::vector<std::string>{"tar", "-xzf", a + "/zarvo.tgz", "-C", d};
         }},
        {"bsdtar -xf", "archive", "", true,
         [](const std::string &, const std::string &, const std::string &a, const std::string &d) {
             return std::vector<std::string>{"bsdtar", "-xf", a + "/zarvo.tgz", "-C", d};
         }},
        {"engine (archive)", "archive", "tar -xzf", false,
         [](const std::string &self, const std::string &, const std::string &a,
            const std::string &d) { return engineCommand(self, a, d); }},
        // What durability and the record cost: the same without each.
        {"archive, no flush", "archive", "tar -xzf", false,
         [](const std::string &self, const std::string &, const std::string &a,
            const std::string &d) { return engineCommand(self, a, d, "flush"); }},
        {"archive, no record", "archive", "tar -xzf", false,
         [](const std::string &self, const std::string &, const std::string &a,
            const std::string &d) { return engineCommand(self, a, d, "record"); }},
        {"cp -r", "copy", "", false,
         [](const std::string &, const std::string &s, const std::string &, const std::string &d) {
             return std::vector<std::string>{"cp", "-r", s, d};
         }},
        {"engine (copy)", "copy", "cp -r", false,
         [](const std::string &self, const std::string &s, const std::string &,
            const std::string &d) { return engineCommand(self, s, d); }},
        {"copy, no flush", "copy", "cp -r", false,
         [](const std::string &self, const std::string &s, const std::string &,
            const std::string &d) { return engineCommand(self, s, d, "flush"); }},
        {"copy, no record", "copy", "cp -r", false,
         [](const std::string &self, const std::string &s, const std::string &,
            const std::string &d) { return engineCommand(self, s, d, "record"); }},
    };
    return all;
}

struct Sample
{
    double seconds;
    double cpuSeconds;
    long rssKb;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// What a tool wrote of the suite: the engine adds the site's set-up files.
Bench::TreeSummary suiteWritten(const Runner &runner, const std::string &destination)
{
    Bench::TreeSummary summary = Bench::summarize(destination);
    // The engine's runs are those compared to a peer.
    if (runner.peer.empty())
        return summary;
    for (const QString &file : SiteFiles::installedFiles()) {
        const long long size = Bench::fileSize(destination + '/' + file.toStdString());
        if (size >= 0) {
            --summary.files;
            summary.bytes -= size;
        }
    }
    return summary;
}

bool onTmpfs(const std::string &path)
{
    struct statfs fs;
    return statfs(path.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: zarvo_bench [--rounds N] [--only archive|copy] [--engines-only] "
                 "[--no-stall] [--counters FILE] SUITE ARCHIVE_SOURCE WORK\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--engine") == 0) {
        QCoreApplication app(argc, argv);
        return Bench::runEngine(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                argc == 5 ? argv[4] : "");
    }
    if (argc == 4 && std::strcmp(argv[1], "--stall") == 0) {
        QCoreApplication app(argc, argv);
        return Bench::runStall(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }

    int rounds = 5;
    std::string only;
    bool enginesOnly = false;
    bool stall = true;
    std::string countersFile;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--engines-only")
            enginesOnly = true;
        else if (arg == "--no-stall")
            stall = false;
        else if (arg == "--counters" && i + 1 < argc)
            countersFile = argv[++i];
        else if (arg.compare(0, 2, "--") == 0)
            return usage();
        else
            paths.push_back(arg);
    }
    if (paths.size() != 3)
        return usage();
    const std::string suite = paths[0], archiveSource = paths[1], work = paths[2];
    const std::string self = Bench::selfPath();
    const bool tmpfs = onTmpfs(work);

    std::vector<const Runner *> active;
    for (const Runner &runner : runners())
        if ((only.empty() || runner.mode == only)
            && (!enginesOnly || !runner.peer.empty()))
            active.push_back(&runner);

    // A warm source for everyone.
    Bench::readTree(suite);
    Bench::readTree(archiveSource);
    const Bench::TreeSummary expected = Bench::summarize(suite);

    std::printf("suite: %ld files (links followed), %.1f MB; archive %.1f MB; %d rounds; "
                "destinations on %s\n",
                expected.files, double(expected.bytes) / 1e6,
                double(Bench::fileSize(archiveSource + "/zarvo.tgz")) / 1e6, rounds,
                tmpfs                  ? "tmpfs"
                : countersFile.empty() ? "a fresh directory each run"
                                       : "the stand-in, a fresh directory each run");

    std::map<std::string, std::vector<Sample>> samples;
    std::map<std::string, std::vector<double>> ratios;
    std::map<std::string, std::vector<double>> cpuRatios;
    std::map<std::string, Bench::CallCounts> calls;
    bool faults = false;
    for (int round = 0; round < rounds; ++round) {
        // Rotate the order so that no tool always runs after the same one.
        std::vector<const Runner *> order = active;
        std::rotate(order.begin(), order.begin() + round % order.size(), order.end());
        std::map<std::string, double> seconds;
        std::map<std::string, double> cpu;
        std::vector<std::string> made;
        for (const Runner *runner : order) {
            const std::string destination = work + "/r" + std::to_string(round) + "-"
                + Bench::slug(runner->name);
            if (runner->precreate)
                Bench::makeDirectory(destination);
            // The previous run's data is on disk, so no run pays for another's.
            sync();
            const Bench::CallCounts before = countersFile.empty()
                ? Bench::CallCounts()
                : Bench::CallCounts::read(countersFile);
            const Bench::RunResult result =
                Bench::run(runner->command(self, suite, archiveSource, destination));
            if (!countersFile.empty()) {
                Bench::CallCounts run = Bench::CallCounts::read(countersFile).since(before);
                run.wallSeconds = result.seconds;
                calls[runner->name].add(run);
            }
            made.push_back(destination);
            if (result.status != 0) {
                std::fprintf(stderr, "%s failed with status %d\n", runner->name.c_str(),
                             result.status);
                faults = true;
            }
            samples[runner->name].push_back({result.seconds, result.cpuSeconds, result.rssKb});
            seconds[runner->name] = result.seconds;
            cpu[runner->name] = result.cpuSeconds;
            if (round == 0) {
                const Bench::TreeSummary got = suiteWritten(*runner, destination);
                if (got.files != expected.files || got.bytes != expected.bytes) {
                    std::fprintf(stderr, "%s wrote %ld files, %lld bytes; expected %ld, %lld\n",
                                 runner->name.c_str(), got.files, got.bytes, expected.files,
                                 expected.bytes);
                    faults = true;
                }
            }
        }
        for (const Runner *runner : order)
            if (!runner->peer.empty() && seconds.count(runner->peer)) {
                ratios[runner->name].push_back(seconds[runner->name] / seconds[runner->peer]);
                cpuRatios[runner->name].push_back(cpu[runner->name] / cpu[runner->peer]);
            }
        if (tmpfs)
            for (const std::string &path : made)
                Bench::removeTree(path);
    }

    std::printf("\n%-18s %7s %15s %25s %9s %12s %9s\n", "wall time", "median", "min-max",
                "ratio to peer (min-max)", "CPU", "CPU ratio", "peak RSS");
    for (const Runner *runner : active) {
        const std::vector<Sample> &list = samples[runner->name];
        std::vector<double> times, cpuTimes;
        long rss = 0;
        for (const Sample &s : list) {
            times.push_back(s.seconds);
            cpuTimes.push_back(s.cpuSeconds);
            rss = std::max(rss, s.rssKb);
        }
        char ratio[64] = "";
        char cpuRatio[32] = "";
        if (ratios.count(runner->name)) {
            const std::vector<double> &r = ratios[runner->name];
            std::snprintf(ratio, sizeof ratio, "%.2f x %s (%.2f-%.2f)", median(r),
                          runner->peer.c_str(), *std::min_element(r.begin(), r.end()),
                          *std::max_element(r.begin(), r.end()));
            std::snprintf(cpuRatio, sizeof cpuRatio, "%.2f x", median(cpuRatios[runner->name]));
        }
        std::printf("%-18s %6.2fs %6.2fs-%6.2fs %25s %8.2fs %12s %6.1f MB\n",
                    runner->name.c_str(), median(times),
                    *std::min_element(times.begin(), times.end()),
                    *std::max_element(times.begin(), times.end()), ratio, median(cpuTimes),
                    cpuRatio, double(rss) / 1024);
    }
    // The fastest peer, for the archive mode.
    if (ratios.count("engine (archive)") && samples.count("bsdtar -xf")) {
        std::vector<double> e, b;
        for (const Sample &s : samples["engine (archive)"])
            e.push_back(s.seconds);
        for (const Sample &s : samples["bsdtar -xf"])
            b.push_back(s.seconds);
        std::printf("engine (archive) / bsdtar -xf, medians: %.2f\n", median(e) / median(b));
    }
    if (!countersFile.empty()) {
        std::vector<std::string> names;
        for (const Runner *runner : active)
            names.push_back(runner->name);
        Bench::printCallsPerFile(names, calls, double(expected.files), expected.directories);
    }

    // The event loop of the user-interface thread while Installer runs.
    for (const std::string mode : {"archive", "copy"}) {
        if (!stall || (!only.empty() && only != mode))
            continue;
        const std::string destination = work + "/stall-" + mode;
        const Bench::RunResult result = Bench::run(
            {self, "--stall", mode == "archive" ? archiveSource : suite, destination}, true);
        if (result.status != 0)
            faults = true;
        std::printf("longest event-loop stall during the %s installation: %s", mode.c_str(),
                    result.output.empty() ? "(not measured)\n" : result.output.c_str());
        if (tmpfs)
            Bench::removeTree(destination);
    }
    return faults ? 1 : 0;
}
