"""Drives the real installer under a private X server, as a user would.

Shared by scripts/demo and the end-to-end tests. Python 3 standard library
only; the X side is xdotool (keys, window search), ImageMagick's import
(screenshots), tesseract (reading the page titles and box texts off the
screen) and libX11 through ctypes (closing a window like its close button).
Every wait has a time limit and raises Timeout when it runs out.
"""

import ctypes
import ctypes.util
import os
import re
import shutil
import subprocess
import tempfile
import time

WIZARD_TITLE = "Corvane Zarvo Installer"
BOX_TITLES = ("Install Error", "Installation Error", "Missing Installation Files", "Missing Dependancies",
              "Destination Exists")
TITLE_BAND = 48
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
    return re.sub(r"\s+", " ", text).strip().lower()


_LOOKALIKE = str.maketrans({"1": "l", "|": "l", "!": "l", "i": "l", "0": "o"})


def fold(text):
    """Text as compared with what was read off the screen: letters and digits
    only, lower case, with the glyphs optical reading mixes up made one."""
    return re.sub(r"[^a-z0-9]", "", text.lower().translate(_LOOKALIKE))


class XServer:
    """A private Xvfb on the first free display number among `numbers`."""

    def __init__(self, numbers, size="1280x1024x24"):
        self.numbers = [numbers] if isinstance(numbers, int) else list(numbers)
        if len(self.numbers) == 1:
            self.numbers = list(range(self.numbers[0], self.numbers[0] + 50))
        self.size, self.proc = size, None

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
            except Timeout:
                self.__exit__()
                raise
            if self.proc.poll() is None:
                self.display = f":{n}"
                return self
        raise RuntimeError(f"no free display among {self.numbers[0]}..{self.numbers[-1]}")

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def user_environment(home, display, desktop_session=True):
    """The environment of a user whose home and desktop data live under `home`."""
    # The GL integration choice is the test run's (the sanitizer builds switch
    # it off), not the user's desktop.
    env = {k: v for k, v in os.environ.items()
           if (not k.startswith(("XDG_", "QT_", "KDE_", "GNOME_", "DBUS_", "LD_"))
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
    if display:
        env["DISPLAY"] = display
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
            if self.proc.poll() is not None:
                raise AssertionError(f"installer ended (status {self.proc.returncode}) before a window "
                                     f"\"{title}\" appeared; stderr: {self.stderr()!r}")
            w = self.windows(title)
            return w[-1] if w else None
        return wait_for(f"window \"{title}\"", probe, timeout)

    def wait_gone(self, wid, title, timeout=20):
        wait_for(f"window \"{title}\" to close", lambda: wid not in self.windows(title), timeout)

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

    # -- the screen ---------------------------------------------------------
    def shot(self, wid=None, name=None):
        """PNG of one window (or the whole screen); kept in logdir when named."""
        path = os.path.join(self.logdir, (name or "last") + ".png")
        subprocess.run(["import", "-window", str(wid) if wid else "root", path],
                       env={**os.environ, "DISPLAY": self.display}, check=True, timeout=20,
                       stderr=subprocess.DEVNULL)
        if name:
            self.shots.append(path)
        return path

    def read(self, wid, band=None, left=0):
        """The text of a window as tesseract reads it (only its top `band`
        pixels when given; from `left` pixels in, past a box's icon)."""
        src = self.shot(wid, None)
        cmd = ["convert", src]
        if band or left:
            cmd += ["-crop", f"100000x{band or 100000}+{left}+0", "+repage"]
        cmd += ["-colorspace", "Gray", "-resize", "200%", "png:-"]
        img = subprocess.run(cmd, capture_output=True, check=True, timeout=20).stdout
        r = subprocess.run(["tesseract", "stdin", "stdout", "--psm", "6"], input=img,
                           capture_output=True, timeout=30, env={**os.environ, "OMP_THREAD_LIMIT": "1"})
        return r.stdout.decode("utf-8", "replace")

    def boxes(self, titles):
        """(title, window) of every open message box among `titles`."""
        return [(t, w) for t in titles for w in self.windows(t)]

    def wait_text(self, wid, text, timeout=20, band=None):
        """Waits until `text` can be read in the window; returns everything read."""
        want = fold(text)
        seen = [""]

        def probe():
            if self.proc.poll() is not None:
                raise AssertionError(f"installer ended (status {self.proc.returncode}) while waiting "
                                     f"for \"{text}\"; last read: {seen[0]!r}")
            seen[0] = self.read(wid, band)
            return seen[0] if want in fold(seen[0]) else None
        try:
            return wait_for(f"\"{text}\" on screen", probe, timeout, 0.2)
        except Timeout as e:
            raise Timeout(f"{e}; last read: {seen[0]!r}") from None

    def band(self, wid, height=TITLE_BAND):
        """The pixels of the top of a window, where the wizard shows the page title."""
        r = subprocess.run(["import", "-window", str(wid), "-crop", f"2000x{height}+0+0", "rgb:-"],
                           env={**os.environ, "DISPLAY": self.display}, capture_output=True, timeout=20)
        return r.stdout

    def wait_page(self, wid, title, timeout=20, shot=None):
        """Waits for the wizard to show the page titled `title`; screenshots it as `shot`."""
        want = fold(title)
        seen = [""]

        def probe():
            if self.proc.poll() is not None:
                raise AssertionError(f"installer ended (status {self.proc.returncode}) while waiting "
                                     f"for the page \"{title}\"; stderr: {self.stderr()!r}")
            for box_title, box in self.boxes(BOX_TITLES):
                raise AssertionError(f"box \"{box_title}\" came up while waiting for the page "
                                     f"\"{title}\": {' '.join(self.read(box).split())!r}")
            seen[0] = self.read(wid, TITLE_BAND)
            lines = [fold(l) for l in seen[0].splitlines() if fold(l)]
            # The title ends the first line (the banner beside it may read as
            # a stray mark); a long one may wrap.
            return lines and (lines[0].endswith(want) or (len(want) > 20 and want in "".join(lines)))
        try:
            wait_for(f"the page \"{title}\"", probe, timeout, 0.2)
        except Timeout as e:
            raise Timeout(f"{e}; last read: {seen[0]!r}") from None
        if shot:
            self.shot(wid, shot)
        return seen[0]

    def step(self, wid, keys, title, timeout=20, shot=None):
        """Presses `keys` on the wizard and waits for the page titled `title`."""
        before = self.band(wid)
        # A key that arrives before the page is ready for it (Next still
        # disabled a moment after Alt+A on a loaded machine) is lost: press
        # again while the page has not changed.
        for _ in range(3):
            self.key(wid, *keys)
            try:
                wait_for("the page to change", lambda: self.band(wid) != before, 5, 0.1)
                break
            except Timeout:
                if fold(title) in fold(self.read(wid, TITLE_BAND)):
                    break  # it had changed before the first look
        return self.wait_page(wid, title, timeout, shot)


def require_tools(*names):
    missing = [n for n in names if not shutil.which(n)]
    if missing:
        raise SystemExit("missing tools: " + " ".join(missing) + " (scripts/packages.txt lists their packages)")



def walk_to_install(r, wid, destination=None, shots=False):
    """Welcome, licence (accepted with Alt+A), install type, destination (typed
    over the default when given), ready; then presses Install."""
    shot = (lambda name: name) if shots else (lambda name: None)
    r.wait_page(wid, PAGES["welcome"], shot=shot("01-welcome"))
    r.step(wid, ["alt+n"], PAGES["licence"])
    r.key(wid, "alt+a")
    r.shot(wid, "02-licence") if shots else None
    r.step(wid, ["alt+n"], PAGES["type"], shot=shot("03-install-type"))
    r.step(wid, ["alt+n"], PAGES["destination"])
    if destination is not None:
        r.key(wid, "ctrl+a", "BackSpace")
        r.type(wid, destination)
    r.shot(wid, "04-destination") if shots else None
    r.step(wid, ["alt+n"], PAGES["ready"], shot=shot("05-ready"))
    r.key(wid, "Return")
