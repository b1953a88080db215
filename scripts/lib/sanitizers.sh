# The sanitizer builds of scripts/test. Any sanitizer report fails the run:
# the code is built with -fno-sanitize-recover=all and every runtime is told
# to stop at the first report with a non-zero exit status.
# shellcheck shell=bash

ZARVO_SUPPRESSIONS="$ZARVO_ROOT/scripts/sanitizers"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:check_initialization_order=1"
export LSAN_OPTIONS="exitcode=86:suppressions=$ZARVO_SUPPRESSIONS/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=86:suppressions=$ZARVO_SUPPRESSIONS/ubsan.supp"
export TSAN_OPTIONS="halt_on_error=1:exitcode=86:second_deadlock_stack=1:suppressions=$ZARVO_SUPPRESSIONS/tsan.supp:print_suppressions=0"

# Configures $1 with the sanitizers $2 and builds the targets named after it
# (all targets when none are named).
sanitizer_build() {
    local dir=$1 sanitizers=$2
    shift 2
    say "configuring $dir ($sanitizers)"
    cmake -S "$ZARVO_ROOT" -B "$ZARVO_ROOT/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZARVO_SANITIZE="$sanitizers" >/dev/null
    say "building $dir"
    local targets=()
    local t
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$ZARVO_ROOT/$dir" -j"$(nproc)" "${targets[@]}"
}

# The names of the tests in build directory $1 whose label matches $2.
tests_labelled() {
    ctest --test-dir "$ZARVO_ROOT/$1" -N -L "$2" | sed -n 's/^ *Test *#[0-9]*: *//p'
}

# AddressSanitizer and UndefinedBehaviorSanitizer over the whole suite.
run_asan_suite() {
    sanitizer_build build-asan address,undefined
    say "running the tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    # The xcb plug-in loads the system's GL driver and unloads it again, after
    # which LeakSanitizer cannot tell whose its allocations were; the wizard
    # draws nothing with GL. The end-to-end driver passes this setting on.
    QT_XCB_GL_INTEGRATION=none ctest --test-dir "$ZARVO_ROOT/build-asan" --output-on-failure \
        -j"$(nproc)"
}

# ThreadSanitizer over the tests of the code that runs on the worker thread:
# Tar, its cancel flag, the dependency scan. The engine's relays are left
# out: they hand strings over in queued calls whose arguments the system's
# Qt copies and frees inside libQt5Core, which is not instrumented, so
# ThreadSanitizer reports races there that no hook or narrow suppression can
# tell from real ones. They need a Qt built with ThreadSanitizer.
run_tsan_suite() {
    local labels='^util$'
    say "configuring build-tsan (thread)"
    cmake -S "$ZARVO_ROOT" -B "$ZARVO_ROOT/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZARVO_SANITIZE=thread >/dev/null
    local tests
    mapfile -t tests < <(tests_labelled build-tsan "$labels")
    if [ ${#tests[@]} -eq 0 ]; then
        say "no engine tests to run under ThreadSanitizer"
        return 0
    fi
    sanitizer_build build-tsan thread "${tests[@]}"
    say "running ${#tests[@]} tests under ThreadSanitizer"
    ctest --test-dir "$ZARVO_ROOT/build-tsan" --output-on-failure -j"$(nproc)" -L "$labels"
}
