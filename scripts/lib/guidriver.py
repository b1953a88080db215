"""Drives the real installer under a private X server, as a user would, and
reads it as a screen reader does.

Shared by the demo and the end-to-end tests. Keys go in through xdotool,
pictures come from ImageMagick's import, and libX11 (through ctypes) closes a
window like its close button. What the program shows is read from its
accessibility tree: every X server gets a private D-Bus session bus and the
accessibility bus of at-spi2-core, whose launcher puts the bus's address on
the root window before any program starts (the server runs with -noreset, or
it would lose the address when the launcher's first connection closes); the
program runs with the toolkit's bridge switched on, and Debian's pyatspi reads
the tree. pyatspi serves Debian's own Python: run this with /usr/bin/python3.
Every wait has a time limit and raises Timeout when it runs out.
"""

import ctypes
import ctypes.util
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

WIZARD_TITLE = "Corvane Zarvo Installer"
BOX_TITLES = ("Install Error", "Installation Error", "Missing Installation Files", "Missing Dependancies",
              "Destination Exists")
PAGES = {
    "welcome": "Welcome to the Corvane Zarvo Installer",
    "licence": "Licence Agreement",
    "type": "Install Type",
    "destination": "Destination",
    "ready": "Ready",
    "install": "Install",
    "cancelled": "Cancelled",
    "error": "Error",
    "finished": "Finished",
}
BUS_LAUNCHERS = ("/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher")
# Lets a long path wrap on screen; never part of what is read out.
ZERO_WIDTH_SPACE = "\u200b"


class Timeout(AssertionError):
    pass


def wait_for(what, probe, timeout, interval=0.1):
    """Calls probe until it returns something true; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Timeout(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def normalise(text):
    return re.sub(r"\s+", " ", text).strip()


class XServer:
    """A private Xvfb on the first free display number among `numbers`, with
    its own session bus and accessibility bus. These run as `user` (a uid)
    when the program will: the accessibility bus admits its owner and root."""

    def __init__(self, numbers, size="1280x1024x24", user=None):
        self.numbers = [numbers] if isinstance(numbers, int) else list(numbers)
        if len(self.numbers) == 1:
            self.numbers = list(range(self.numbers[0], self.numbers[0] + 50))
        self.size, self.user, self.proc, self.buses, self.runtime = size, user, None, [], None

    def __enter__(self):
        for n in self.numbers:
            if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
                continue
            self.proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", self.size, "-nolisten", "tcp", "-noreset"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                # Another server may take the number first; then try the next one.
                wait_for(f"Xvfb on :{n}", lambda: self.proc.poll() is not None or subprocess.run(
                    ["xdpyinfo", "-display", f":{n}"], stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL).returncode == 0, 15)
                if self.proc.poll() is None:
                    self.display = f":{n}"
                    self.start_buses()
                    return self
            except BaseException:
                self.__exit__()
                raise
        raise RuntimeError(f"no free display among {self.numbers[0]}..{self.numbers[-1]}")

    def start_buses(self):
        launcher = next((p for p in BUS_LAUNCHERS if os.access(p, os.X_OK)), None)
        if not launcher:
            raise SystemExit("no at-spi-bus-launcher (Debian's at-spi2-core; scripts/packages.txt lists it)")
        self.runtime = tempfile.mkdtemp(prefix="zarvo-buses-")
        prefix = []
        if self.user is not None:
            os.chown(self.runtime, self.user, -1)
            prefix = as_user(self.user)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": self.display, "HOME": self.runtime,
               "XDG_RUNTIME_DIR": self.runtime}
        # Each in a process group of its own, with the buses and registry it starts.
        bus = subprocess.Popen([*prefix, "dbus-daemon", "--session", "--nofork", "--print-address=1"], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        self.buses.append(bus)
        self.session_bus = bus.stdout.readline().strip()
        if not self.session_bus:
            raise RuntimeError("the session bus did not start")
        self.buses.append(subprocess.Popen([*prefix, launcher, "--launch-immediately"],
                                           env={**env, "DBUS_SESSION_BUS_ADDRESS": self.session_bus},
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                           start_new_session=True))
        wait_for("the accessibility bus", lambda: accessibility_bus(self.display), 15)

    def __exit__(self, *exc):
        for helper in reversed(self.buses):
            try:
                os.killpg(helper.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            helper.wait()
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.runtime:
            shutil.rmtree(self.runtime, ignore_errors=True)


def as_user(uid):
    """The command prefix that runs a command as `uid` (and its group of the same number)."""
    return ["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups", "--"]


def accessibility_bus(display):
    """The address the bus launcher put on the root window of `display`."""
    out = subprocess.run(["xprop", "-display", display, "-root", "AT_SPI_BUS"], capture_output=True,
                         text=True, timeout=20).stdout
    found = re.search(r'"(.+)"', out)
    return found.group(1) if found else None


_pyatspi = None


def atspi(display):
    """pyatspi, reading the accessibility bus of `display`: the first one asked
    for in this process."""
    global _pyatspi
    if _pyatspi is None:
        os.environ["AT_SPI_BUS_ADDRESS"] = accessibility_bus(display) or ""
        try:
            import pyatspi
        except ImportError:
            raise SystemExit("reading the program needs Debian's python3-pyatspi: run this with /usr/bin/python3")
        _pyatspi = pyatspi
    return _pyatspi


class Node:
    """One showing object of the tree: role, name, description, the page it
    lies on, whether it can take the keyboard focus and is enabled, its text."""

    def __init__(self, acc, page, at):
        states = acc.getState()
        self.acc, self.page = acc, page
        self.role, self.name, self.description = acc.getRoleName(), acc.name or "", acc.description or ""
        self.focusable = states.contains(at.STATE_FOCUSABLE)
        self.enabled = states.contains(at.STATE_SENSITIVE)
        self.checked = states.contains(at.STATE_CHECKED)

    @property
    def text(self):
        """What a text field or viewer holds (the first 64 KB); empty for others."""
        try:
            text = self.acc.queryText()
        except NotImplementedError:
            return ""
        return text.getText(0, min(text.characterCount, 65536))

    def value(self):
        return self.acc.queryValue().currentValue

    def __repr__(self):
        return f"[{self.role}] {self.name!r}" + (f" ({self.description!r})" if self.description else "")


def user_environment(home, x=None, desktop_session=True):
    """The environment of a user whose home and desktop data live under
    `home`, on the display and buses of the XServer `x` (none when None)."""
    # The GL integration choice is the test run's (the sanitizer builds switch
    # it off), not the user's desktop.
    env = {k: v for k, v in os.environ.items()
           if (not k.startswith(("XDG_", "QT_", "KDE_", "GNOME_", "DBUS_", "LD_", "AT_SPI_"))
               or k == "QT_XCB_GL_INTEGRATION")
           and k not in ("DISPLAY", "HOME", "DESKTOP_SESSION", "WAYLAND_DISPLAY")}
    dirs = {"XDG_DATA_HOME": ".local/share", "XDG_CONFIG_HOME": ".config", "XDG_CACHE_HOME": ".cache",
            "XDG_STATE_HOME": ".local/state", "XDG_RUNTIME_DIR": "runtime", "XDG_DATA_DIRS": "system-share",
            "XDG_CONFIG_DIRS": "system-config"}
    os.makedirs(home, exist_ok=True)
    for var, sub in dirs.items():
        path = os.path.join(home, sub)
        os.makedirs(path, mode=0o700, exist_ok=True)
        env[var] = path
    # The freedesktop.org tools work system-wide for root unless told otherwise;
    # "system-wide" is then this writable stand-in, never the machine's own.
    for sub in ("icons/hicolor", "applications", "desktop-directories", "mime/packages"):
        os.makedirs(os.path.join(env["XDG_DATA_DIRS"], sub), exist_ok=True)
    os.makedirs(os.path.join(env["XDG_CONFIG_DIRS"], "menus"), exist_ok=True)
    env["HOME"] = home
    env["LANG"] = env["LC_ALL"] = "C.UTF-8"
    if x:
        env["DISPLAY"], env["DBUS_SESSION_BUS_ADDRESS"] = x.display, x.session_bus
        # What a desktop that has no screen reader running does not announce.
        env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    if desktop_session:
        env["KDE_FULL_SESSION"] = "true"
    return env


class X11:
    """The few libX11 calls xdotool lacks: closing a window through the window manager protocol."""

    def __init__(self, display):
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.lib.XOpenDisplay.restype = ctypes.c_void_p
        self.lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.lib.XInternAtom.restype = ctypes.c_ulong
        self.lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                        ctypes.c_void_p]
        self.lib.XFlush.argtypes = [ctypes.c_void_p]
        self.lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = display

    def close_window(self, wid):
        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                        ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                        ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                        ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

        dpy = self.lib.XOpenDisplay(self.display.encode())
        if not dpy:
            raise RuntimeError(f"cannot open display {self.display}")
        try:
            ev = ClientMessage()
            ev.type = 33  # ClientMessage
            ev.window = wid
            ev.message_type = self.lib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
            ev.format = 32
            ev.data[0] = self.lib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
            ev.data[1] = 0  # CurrentTime
            self.lib.XSendEvent(dpy, wid, 0, 0, ctypes.byref(ev))
            self.lib.XFlush(dpy)
        finally:
            self.lib.XCloseDisplay(dpy)


class Installer:
    """One run of the installer program, with its own windows on `display`."""

    def __init__(self, program, args=(), env=None, cwd=None, display=None, logdir=None):
        self.program, self.args = program, list(args)
        self.env = env if env is not None else dict(os.environ)
        self.display = display if display is not None else self.env.get("DISPLAY", "")
        self.cwd = cwd or tempfile.gettempdir()
        self.logdir = logdir or tempfile.mkdtemp(prefix="zarvo-run-")
        os.makedirs(self.logdir, exist_ok=True)
        self.proc = None
        self.shots = []
        self.titles = {}  # window id -> title
        self.app = None

    # -- the process --------------------------------------------------------
    def start(self):
        self.out = open(os.path.join(self.logdir, "stdout.txt"), "wb")
        self.err = open(os.path.join(self.logdir, "stderr.txt"), "wb")
        self.proc = subprocess.Popen([self.program, *self.args], env=self.env, cwd=self.cwd,
                                     stdin=subprocess.DEVNULL, stdout=self.out, stderr=self.err)
        return self

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Timeout(f"installer still running after {timeout:.0f} s") from None

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for f in (getattr(self, "out", None), getattr(self, "err", None)):
            if f:
                f.close()

    def stderr(self):
        self.err.flush()
        with open(os.path.join(self.logdir, "stderr.txt"), encoding="utf-8", errors="replace") as f:
            return f.read()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- windows --------------------------------------------------------------
    def xdo(self, *args, check=True):
        r = subprocess.run(["xdotool", *args], env={**os.environ, "DISPLAY": self.display},
                           capture_output=True, text=True, timeout=20)
        if check and r.returncode != 0:
            raise RuntimeError(f"xdotool {' '.join(args)}: {r.stderr.strip()}")
        return r.stdout

    def windows(self, title):
        """Visible windows of this process whose whole title is `title`."""
        if self.proc.poll() is not None:
            return []
        out = self.xdo("search", "--all", "--onlyvisible", "--pid", str(self.proc.pid),
                       "--name", "^" + re.escape(title) + "$", check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, title, timeout=20):
        def probe():
            self.running(f"a window \"{title}\" appeared")
            w = self.windows(title)
            return w[-1] if w else None
        wid = wait_for(f"window \"{title}\"", probe, timeout)
        self.titles[wid] = title
        return wid

    def wait_gone(self, wid, title, timeout=20):
        wait_for(f"window \"{title}\" to close", lambda: wid not in self.windows(title), timeout)

    def running(self, until):
        if self.proc.poll() is not None:
            raise AssertionError(f"installer ended (status {self.proc.returncode}) before {until}; "
                                 f"stderr: {self.stderr()!r}")

    def focus(self, wid):
        def probe():
            self.xdo("windowfocus", str(wid), check=False)
            return self.xdo("getwindowfocus", check=False).strip() == str(wid)
        wait_for(f"focus on window {wid}", probe, 10, 0.2)

    def key(self, wid, *keys):
        self.focus(wid)
        self.xdo("key", "--clearmodifiers", "--delay", "40", *keys)

    def type(self, wid, text):
        self.focus(wid)
        self.xdo("type", "--clearmodifiers", "--delay", "8", text)

    def close(self, wid):
        X11(self.display).close_window(wid)

    def shot(self, wid=None, name=None):
        """PNG of one window (or the whole screen); kept in logdir when named."""
        path = os.path.join(self.logdir, (name or "last") + ".png")
        subprocess.run(["import", "-window", str(wid) if wid else "root", path],
                       env={**os.environ, "DISPLAY": self.display}, check=True, timeout=20,
                       stderr=subprocess.DEVNULL)
        if name:
            self.shots.append(path)
        return path

    # -- the accessibility tree ---------------------------------------------------
    def top_levels(self):
        """(title, object) of the program's showing windows."""
        at = atspi(self.display)
        try:
            if self.app is None:
                self.app = next((app for app in at.Registry.getDesktop(0)
                                 if app is not None and app.get_process_id() == self.proc.pid), None)
            return [(w.name, w) for w in self.app or () if w is not None and w.getState().contains(at.STATE_SHOWING)]
        except Exception:  # the program ended while it was asked
            if self.proc.poll() is None:
                raise
            return []

    def nodes(self, wid):
        """The showing objects of a window (the window first), in the order of the tree."""
        at = atspi(self.display)
        title = self.titles[wid]
        for attempt in range(3):
            try:
                window = next((w for t, w in self.top_levels() if t == title), None)
                if window is None:
                    return []
                found, stack = [], [(window, "")]
                while stack:
                    acc, page = stack.pop()
                    node = Node(acc, page, at)
                    found.append(node)
                    if node.role in ("filler", "panel") and node.name:
                        page = node.name  # only the wizard's pages are named panels
                    stack.extend((c, page) for c in reversed(list(acc))
                                 if c is not None and c.getState().contains(at.STATE_SHOWING))
                return found
            except Exception:  # an object that went while it was read
                if attempt == 2:
                    raise
                time.sleep(0.1)

    def read(self, wid):
        """The window as a screen reader's review gives it: names,
        descriptions and texts, one per line."""
        return "\n".join(part for n in self.nodes(wid) for part in (n.name, n.description, n.text) if part)

    def control(self, wid, name, role=None):
        """The showing object named `name` (of `role`), or None."""
        return next((n for n in self.nodes(wid) if n.name == name and role in (None, n.role)), None)

    def page(self, wid):
        """The name of the page the wizard shows."""
        return next((n.page for n in self.nodes(wid) if n.page), None)

    def open_boxes(self):
        """(title, text) of every open message box."""
        return [(t, normalise(w.description)) for t, w in self.top_levels() if t in BOX_TITLES]

    def boxes(self, titles):
        """(title, window) of every open message box among `titles`."""
        found = [(t, w) for t, _ in self.open_boxes() if t in titles for w in self.windows(t)]
        self.titles.update((w, t) for t, w in found)
        return found

    def wait_text(self, wid, text, timeout=20):
        """Waits until `text` can be read in the window; returns everything read."""
        want, seen = normalise(text), [""]

        def probe():
            self.running(f"\"{text}\" could be read")
            seen[0] = self.read(wid)
            return seen[0] if want in normalise(seen[0]) else None
        try:
            return wait_for(f"\"{text}\" in the window", probe, timeout)
        except Timeout as e:
            raise Timeout(f"{e}; last read: {seen[0]!r}") from None

    def wait_control(self, wid, name, timeout=20, **state):
        """Waits until the object named `name` shows with the given
        attributes (enabled=True, role="notification", ...); returns it."""
        def probe():
            self.running(f"\"{name}\" was {state}")
            node = self.control(wid, name, state.get("role"))
            return node if node and all(getattr(node, k) == v for k, v in state.items()) else None
        return wait_for(f"\"{name}\" with {state}", probe, timeout)

    def wait_page(self, wid, title, timeout=20, shot=None):
        """Waits for the wizard to show the page titled `title`, with a name for
        everything the user can reach; screenshots it as `shot`."""
        def probe():
            self.running(f"the page \"{title}\" showed")
            for box_title, text in self.open_boxes():
                raise AssertionError(f"box \"{box_title}\" came up while waiting for the page \"{title}\": {text!r}")
            return self.page(wid) == title
        try:
            wait_for(f"the page \"{title}\"", probe, timeout)
        except Timeout as e:
            shown = self.page(wid)
            raise Timeout(f"{e}; the wizard shows " + (f"\"{shown}\"" if shown else "no named page")) from None
        problems = unnamed(self.nodes(wid))
        if problems:
            raise AssertionError(f"on the page \"{title}\": " + "; ".join(problems))
        if shot:
            self.shot(wid, shot)
        return self.read(wid)

    def step(self, wid, keys, title, button="Next", timeout=20, shot=None):
        """Presses `keys` on the wizard once `button` is enabled (a key that
        came sooner would be lost) and waits for the page titled `title`."""
        if button:
            self.wait_control(wid, button, enabled=True)
        self.key(wid, *keys)
        return self.wait_page(wid, title, timeout, shot)


def unnamed(nodes):
    """What a screen reader user would miss among `nodes`: a control or page
    without a name, a control on a page or a page without a description, and
    zero-width spaces, which are only there to break long paths on screen."""
    problems = []
    for n in nodes:
        page = n.role in ("filler", "panel") and n.name
        if (n.focusable or page) and not n.name:
            problems.append(f"{n.role} without a name on the page \"{n.page}\"")
        elif (page or (n.focusable and n.page)) and not n.description:
            problems.append(f"{n!r} has no description")
        if ZERO_WIDTH_SPACE in n.name + n.description:
            problems.append(f"{n!r} carries zero-width spaces")
    return problems


def require_tools(*names):
    missing = [n for n in names if not shutil.which(n)]
    if missing:
        raise SystemExit("missing tools: " + " ".join(missing) + " (scripts/packages.txt lists their packages)")



def walk_to_install(r, wid, destination=None, shots=False, check_destination=None):
    """Welcome, licence (accepted with Alt+A), install type, destination (typed
    over the default when given, after check_destination(r, wid) when given),
    ready; then presses Install."""
    shot = (lambda name: name) if shots else (lambda name: None)
    r.wait_page(wid, PAGES["welcome"], shot=shot("01-welcome"))
    r.step(wid, ["alt+n"], PAGES["licence"])
    r.key(wid, "alt+a")
    r.wait_control(wid, "I agree to the terms in the licence agreement.", checked=True)
    r.shot(wid, "02-licence") if shots else None
    r.step(wid, ["alt+n"], PAGES["type"], shot=shot("03-install-type"))
    r.step(wid, ["alt+n"], PAGES["destination"])
    if check_destination:
        check_destination(r, wid)
    if destination is not None:
        type_destination(r, wid, destination)
    r.shot(wid, "04-destination") if shots else None
    r.step(wid, ["alt+n"], PAGES["ready"], shot=shot("05-ready"))
    # The install page may be gone before it can be seen.
    r.wait_control(wid, "Install", role="push button", enabled=True)
    r.key(wid, "Return")


def type_destination(r, wid, text):
    """Types `text` over the destination field's text."""
    r.key(wid, "ctrl+a", "BackSpace")
    r.type(wid, text)
    r.wait_control(wid, "Destination directory", text=text)
