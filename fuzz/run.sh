#!/usr/bin/env bash
# Builds the archive fuzzer with clang (build-fuzz/) and runs it for a bounded
# time: fuzz/run.sh [seconds, default 60]. Started as root, the fuzzer runs as
# the unprivileged user nobody, so that a fault in the installation cannot
# reach the system's files. Exits non-zero when the fuzzer found a fault; the input
# that caused it is kept in build-fuzz/artifacts/.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib/common.sh"
cd "$ZARVO_ROOT"

seconds=${1:-60}
say "configuring build-fuzz"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DZARVO_BUILD_FUZZERS=ON -DZARVO_BUILD_TESTS=OFF \
    -DZARVO_SANITIZE=address,undefined >/dev/null
say "building build-fuzz"
cmake --build build-fuzz --target fuzz_extract -j"$(nproc)"

work=$(mktemp -d /tmp/zarvo-fuzz-run.XXXXXX)
# The harness extracts beside its sentinels in this fixed place, which the
# hostile seeds name.
root=/tmp/zarvo-fuzz
mounted=""
cleanup() {
    [ -z "$mounted" ] || umount "$root" || true
    rmdir "$root" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
cp build-fuzz/fuzz/fuzz_extract "$work/"
mkdir "$work/corpus" "$work/artifacts"
cp fuzz/corpus/* "$work/corpus/"
seeds=$(ls "$work/corpus" | wc -l)
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    # What a crashed run left behind belongs to root; nobody could not clear it.
    umount "$root" 2>/dev/null || true
    rm -rf "$root"
    # A small file system: fast, and a decompression bomb cannot fill the disk.
    mkdir -m 0755 "$root"
    chown 65534:65534 "$root"
    if mount -t tmpfs -o size=256m,mode=0755,uid=65534,gid=65534 tmpfs "$root" 2>/dev/null; then
        mounted=yes
    fi
    chown -R 65534:65534 "$work"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

say "fuzzing whole installations for ${seconds}s from $seeds seeds"
status=0
HOME=$work ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "${as_user[@]}" "$work/fuzz_extract" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 || status=$?

runs=$(grep -o 'Done [0-9]* runs' "$work/log" | grep -o '[0-9]*' || echo 0)
units=$(ls "$work/corpus" | wc -l)
if [ "$status" -ne 0 ]; then
    tail -n 60 "$work/log"
    mkdir -p build-fuzz/artifacts
    cp "$work"/artifacts/* build-fuzz/artifacts/ 2>/dev/null || true
    say "the fuzzer found a fault (status $status); inputs kept in build-fuzz/artifacts/"
    exit 1
fi
say "fuzzer: $runs executions, corpus $seeds -> $units inputs, nothing written outside the destination"
