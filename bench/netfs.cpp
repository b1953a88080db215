// A stand-in for a network file system, for scripts/bench --netfs: it passes
// every call through to a directory on local disk and, before answering a call
// that a client of a network file system has to wait for the server to answer,
// waits one round trip.
//
//   zarvo_netfs [--rtt MICROSECONDS] [--slow OP,OP,...] [--threads N] BACKING MOUNTPOINT
//
// --rtt      the round trip (default 500; 0 passes everything straight through)
// --slow     the operations that wait for it (default: see defaultSlowOps)
// --threads  the most calls answered at once (default 64), like a server's
//            request slots; the kernel queues the rest
//
// It runs in the foreground until MOUNTPOINT is unmounted or it gets SIGINT,
// SIGTERM or SIGHUP, and then prints its counters on standard error. Reading
// MOUNTPOINT/.netfs-counters gives the counters so far: a line "name calls
// microseconds slow" per operation, then the round trip, the most round trips
// in hand at once since the previous reading and the time with at least one
// in hand. Everything is created as the user running it.

#include "bench/netfsoperations.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using NetFs::Counters;
using NetFs::Op;

// What a client of NFS waits for the server to answer: creating, finding,
// changing and removing names, changing attributes, opening (a new open
// revalidates what the client holds), reading directories and links, and
// the flush that closing a written file waits for. Attributes come from the
// client's cache; data is read ahead and written back in the background; a
// close returns without waiting for the release.
const Op defaultSlowOps[] = {
    Op::Lookup, Op::Setattr, Op::Readlink, Op::Mknod, Op::Mkdir, Op::Unlink, Op::Rmdir,
    Op::Symlink, Op::Rename, Op::Link, Op::Open, Op::Flush, Op::Fsync, Op::Opendir,
    Op::Readdir, Op::Fsyncdir, Op::Statfs, Op::Create,
};

// "lookup,create" as the bits of Counters; false for an unknown name.
bool parseOps(const std::string &list, uint32_t *bits)
{
    *bits = 0;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string name = list.substr(start, end - start);
        if (!name.empty()) {
            const Op op = NetFs::opNamed(name);
            if (op == Op::Count)
                return false;
            *bits |= Counters::bit(op);
        }
        start = end + 1;
    }
    return true;
}

// The kernel may keep every node it was told of as long as it likes, and
// each holds a descriptor: as many as allowed, and as root up to the
// system's ceiling.
void raiseDescriptorLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    if (FILE *file = std::fopen("/proc/sys/fs/nr_open", "r")) {
        unsigned long ceiling = 0;
        const bool read = std::fscanf(file, "%lu", &ceiling) == 1;
        std::fclose(file);
        const rlimit wanted = {ceiling, ceiling};
        if (read && ceiling > limit.rlim_max && setrlimit(RLIMIT_NOFILE, &wanted) == 0)
            return;
    }
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

int usage()
{
    std::fprintf(stderr, "usage: zarvo_netfs [--rtt MICROSECONDS] [--slow OP,OP,...] "
                         "[--threads N] BACKING MOUNTPOINT\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    long roundTripUs = 500;
    int threads = 64;
    uint32_t slowOps = 0;
    for (const Op op : defaultSlowOps)
        slowOps |= Counters::bit(op);
    std::vector<const char *> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        char *end = nullptr;
        if (arg == "--rtt" && i + 1 < argc) {
            roundTripUs = std::strtol(argv[++i], &end, 10);
            if (*end || roundTripUs < 0)
                return usage();
        } else if (arg == "--threads" && i + 1 < argc) {
            threads = int(std::strtol(argv[++i], &end, 10));
            if (*end || threads < 1)
                return usage();
        } else if (arg == "--slow" && i + 1 < argc) {
            if (!parseOps(argv[++i], &slowOps))
                return usage();
        } else if (arg.compare(0, 1, "-") == 0) {
            return usage();
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.size() != 2)
        return usage();

    // Modes arrive with the caller's umask applied; applying ours too would
    // change them. Sleeps end when they are due, not up to 50 us later.
    umask(0);
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    raiseDescriptorLimit();
    const int rootFd = open(paths[0], O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        std::fprintf(stderr, "zarvo_netfs: %s: %s\n", paths[0], std::strerror(errno));
        return 1;
    }
    NetFs::State state{NetFs::Nodes(rootFd), Counters(int64_t(roundTripUs) * 1000, slowOps)};
    if (state.nodes.holdsDescriptors())
        std::fprintf(stderr, "zarvo_netfs: file handles need privilege; holding every file open "
                             "instead, which the limit on open files bounds\n");

    fuse_args args = FUSE_ARGS_INIT(0, nullptr);
    fuse_opt_add_arg(&args, argv[0]);
    fuse_opt_add_arg(&args, "-o");
    fuse_opt_add_arg(&args, "fsname=zarvo_netfs,subtype=netfs");
    const fuse_lowlevel_ops ops = NetFs::operations();
    fuse_session *session = fuse_session_new(&args, &ops, sizeof ops, &state);
    int status = 1;
    if (session && fuse_set_signal_handlers(session) == 0) {
        if (fuse_session_mount(session, paths[1]) == 0) {
            fuse_loop_config *config = fuse_loop_cfg_create();
            fuse_loop_cfg_set_max_threads(config, unsigned(threads));
            fuse_loop_cfg_set_idle_threads(config, unsigned(threads));
            const int result = fuse_session_loop_mt(session, config);
            fuse_loop_cfg_destroy(config);
            fuse_session_unmount(session);
            // A signal that ended the loop is the ordinary way to stop.
            status = result < 0 ? 1 : 0;
            std::fprintf(stderr, "zarvo_netfs: calls answered on %s\n%s", paths[1],
                         state.counters.report(true).c_str());
        }
        fuse_remove_signal_handlers(session);
    }
    if (session)
        fuse_session_destroy(session);
    fuse_opt_free_args(&args);
    return status;
}
