# Shared by the scripts in scripts/: package installation and a private X server.
# shellcheck shell=bash

ZARVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

say() { printf '==> %s\n' "$*"; }

# Installs the packages of scripts/packages.txt that are not installed yet.
ensure_packages() {
    local wanted missing=()
    wanted=$(grep -v -E '^\s*(#|$)' "$ZARVO_ROOT/scripts/packages.txt")
    for p in $wanted; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        say "all required Debian packages are installed"
        return 0
    fi
    say "installing Debian packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Environment Modules conflicts with Lmod (from packages.txt), so it is only
# unpacked from its package, into out/environment-modules, where the tests run
# its modulecmd.tcl with tclsh. Can be run again.
ensure_environment_modules() {
    local dir=$ZARVO_ROOT/out/environment-modules
    if [ -f "$dir/usr/lib/modulecmd.tcl" ]; then
        say "Environment Modules is unpacked in out/environment-modules"
        return 0
    fi
    say "unpacking Environment Modules into out/environment-modules"
    local download sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    download=$(mktemp -d)
    # The package lists may be older than the archive's files.
    (cd "$download" && { apt-get download -qq environment-modules 2>/dev/null \
        || { $sudo apt-get update -qq && apt-get download -qq environment-modules; }; })
    mkdir -p "$dir"
    dpkg-deb -x "$download"/environment-modules_*.deb "$dir"
    rm -rf "$download"
}

# Configures and builds the tree in $1 (default build/) with extra CMake arguments.
build_tree() {
    local dir=${1:-build}
    shift || true
    say "configuring $dir"
    cmake -S "$ZARVO_ROOT" -B "$ZARVO_ROOT/$dir" "$@" >/dev/null
    say "building $dir"
    cmake --build "$ZARVO_ROOT/$dir" -j"$(nproc)"
}

# Starts a private Xvfb server and exports DISPLAY; stopped when the script exits.
start_xvfb() {
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    ZARVO_XVFB_PID=$!
    trap 'kill $ZARVO_XVFB_PID 2>/dev/null || true' EXIT
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X${n}" ] && break
        sleep 0.1
    done
    # The tests answer boxes with faked keys; a key left held down must not
    # auto-repeat into every later box on this display.
    xset r off 2>/dev/null || true
    say "Xvfb running on $DISPLAY"
}
