#ifndef ZARVO_BENCH_NETFSOPERATIONS_H
#define ZARVO_BENCH_NETFSOPERATIONS_H

#include "bench/netfscounters.h"
#include "bench/netfsnodes.h"

namespace NetFs {

// What every call of the stand-in file system works on.
struct State
{
    Nodes nodes;
    Counters counters;
};

// The calls of the stand-in, each passed through to the backing directory
// below its node. Names and attributes may be kept by the kernel for 3 s
// (files) and 30 s (directories), as long as an NFS client keeps them by
// default; each write is taken as it comes (such a client writes back in the
// background and waits on close, which is the flush). The top holds
// ".netfs-counters", which no listing shows and no counter counts: reading
// it gives Counters::report().
fuse_lowlevel_ops operations();

} // namespace NetFs

#endif
