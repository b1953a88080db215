#!/usr/bin/python3
"""End-to-end tests of the real bundled installer, driven like a user.

    e2e.py BINARY_DIR setup          makes the demo payloads and the bundles
    e2e.py BINARY_DIR CASE ROW       runs one row of one case

Each row runs in its own temporary directory with its own HOME and XDG_*
directories and, when it needs a display, its own Xvfb (numbers from
ZARVO_E2E_DISPLAYS, default 150 and up), so rows can run in parallel without
stealing each other's keyboard focus. Exit status 77 means skipped.
"""

import glob
import hashlib
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tarfile
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "scripts", "lib"))
import guidriver as g  # noqa: E402

VERSION = "25.1.3"
BUNDLE = "corvane-zarvo-%s-installer" % VERSION
MISSING_LIBRARY = "libzarvo-missing.so.1"
SKIP = 77
# Used once by the installation and then deleted; and what post-install.sh leaves.
CONSUMED = {"lumo-mime.xml", "post-install.sh"}
# The marker, record, log and remover, the modulefile and the shell set-up
# scripts with their folders.
ADDED = {".installed", ".installation-record", ".installation.log", "uninstall", "doc/post-install.log",
         "modulefiles", "modulefiles/corvane-zarvo",
         "modulefiles/corvane-zarvo/" + VERSION, "etc", "etc/profile.d",
         "etc/profile.d/corvane-zarvo.sh", "etc/profile.d/corvane-zarvo.csh"}
REWRITTEN = {"icons/corvane-zarvo.desktop"}


class Failure(AssertionError):
    pass


def check(ok, why):
    if not ok:
        raise Failure(why)


# -- the set-up shared by all rows ------------------------------------------------

class Paths:
    def __init__(self, binary_dir):
        self.build = os.path.abspath(binary_dir)
        self.base = os.path.join(self.build, "e2e")
        self.small = os.path.join(self.base, "small")      # demo payload, a few MB
        self.large = os.path.join(self.base, "large")      # enough files to cancel mid-copy
        self.bundle = os.path.join(self.base, "bundle", BUNDLE)
        self.large_bundle = os.path.join(self.base, "large-bundle", BUNDLE)
        self.tree = os.path.join(self.small, "tree")
        self.large_tree = os.path.join(self.large, "tree")


def setup(p):
    if os.path.lexists(p.base):
        shutil.rmtree(p.base)
    os.makedirs(p.base)
    make_demo = os.path.join(ROOT, "demo", "make-demo")
    bundle = os.path.join(ROOT, "scripts", "bundle")
    subprocess.run([make_demo, p.small, "--bulk-files", "60", "--bulk-mb", "3", "--large", "1"], check=True)
    subprocess.run([make_demo, p.large, "--bulk-files", "1500", "--bulk-mb", "24", "--large", "2"], check=True)
    subprocess.run([bundle, "--build", p.build, "--payload", os.path.join(p.small, "archive"),
                    "--out", os.path.join(p.base, "bundle"), "--no-pack"], check=True)
    subprocess.run([bundle, "--build", p.build, "--into-tree", p.tree], check=True)
    # The large payload gets the same program and libraries, linked rather than made again.
    shutil.copytree(p.bundle, p.large_bundle, symlinks=True, copy_function=os.link,
                    ignore=lambda d, names: ["zarvo.tgz", "license_terms"] if d == p.bundle else [])
    for name in ("zarvo.tgz", "license_terms"):
        src = os.path.join(p.large, "archive", name)
        (shutil.copytree if os.path.isdir(src) else shutil.copy2)(src, os.path.join(p.large_bundle, name))
    for part in ("lib/internal", "lib/plugins"):
        shutil.copytree(os.path.join(p.tree, part), os.path.join(p.large_tree, part), symlinks=True,
                        copy_function=os.link)
    for part in ("installer", "platforms"):
        src = os.path.join(p.tree, "libexec", part)
        if os.path.islink(src):
            os.symlink(os.readlink(src), os.path.join(p.large_tree, "libexec", part))
        else:
            os.link(src, os.path.join(p.large_tree, "libexec", part))


# -- what an installed tree must hold ----------------------------------------------

def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def expected_from_archive(tgz):
    """name -> (kind, mode, mtime, content digest or link target), as stored."""
    out = {}
    with tarfile.open(tgz, "r:gz") as t:
        for m in t:
            name = m.name[2:] if m.name.startswith("./") else m.name
            name = name.rstrip("/")
            if m.isdir():
                out[name] = ("dir", m.mode & 0o7777, None, None)
            elif m.issym():
                out[name] = ("link", None, m.mtime, m.linkname)
            else:
                h = hashlib.sha256(t.extractfile(m).read()).hexdigest()
                out[name] = ("file", m.mode & 0o7777, m.mtime, h)
    return out


def for_all_users(expected):
    """An "All Users" installation (root's default in the wizard): 0755, and
    0644 for a file its owner may not execute, whatever was stored."""
    return {name: (kind, None if mode is None else 0o755 if kind == "dir" or mode & 0o100 else 0o644,
                   mtime, content)
            for name, (kind, mode, mtime, content) in expected.items()}


def expected_from_tree(src, umask):
    """What a copy of an unpacked tree gives: visible entries only, links
    followed, the owner's execute bit deciding between 0777 and 0666 less the umask."""
    out = {}

    def walk(d, rel):
        for name in sorted(os.listdir(d), key=str.lower):
            if name.startswith("."):
                continue
            path, r = os.path.join(d, name), (rel + "/" + name).lstrip("/")
            if not os.path.exists(path):  # a broken link
                continue
            if os.path.isdir(path):
                out[r] = ("dir", None, None, None)
                walk(path, r)
            else:
                st = os.stat(path)
                mode = (0o777 if st.st_mode & stat.S_IXUSR else 0o666) & ~umask
                out[r] = ("file", mode, int(st.st_mtime), digest(path))
    walk(src, "")
    return out


def compare_tree(dest, expected):
    problems = []
    for name, (kind, mode, mtime, content) in sorted(expected.items()):
        path = os.path.join(dest, name)
        if name in CONSUMED:
            if os.path.lexists(path):
                problems.append(f"{name}: still there after the installation used it")
            continue
        if not os.path.lexists(path):
            problems.append(f"{name}: not installed")
            continue
        st = os.lstat(path)
        if kind == "dir":
            if not stat.S_ISDIR(st.st_mode):
                problems.append(f"{name}: not a directory")
            elif mode is not None and stat.S_IMODE(st.st_mode) != mode:
                problems.append(f"{name}: directory mode {stat.S_IMODE(st.st_mode):o}, want {mode:o}")
            continue
        if kind == "link":
            if not stat.S_ISLNK(st.st_mode) or os.readlink(path) != content:
                problems.append(f"{name}: not the link to {content}")
            continue
        if not stat.S_ISREG(st.st_mode):
            problems.append(f"{name}: not a regular file")
            continue
        if name in REWRITTEN:
            continue
        if stat.S_IMODE(st.st_mode) != mode:
            problems.append(f"{name}: mode {stat.S_IMODE(st.st_mode):o}, want {mode:o}")
        if int(st.st_mtime) != mtime:
            problems.append(f"{name}: modified {int(st.st_mtime)}, want {mtime}")
        if digest(path) != content:
            problems.append(f"{name}: content differs from the source")
    for d, dirs, files in os.walk(dest):
        for n in dirs + files:
            rel = os.path.relpath(os.path.join(d, n), dest)
            if rel not in expected and rel not in ADDED:
                problems.append(f"{rel}: installed but not in the source")
    check(not problems, f"installed tree {dest} differs from its source:\n  " + "\n  ".join(problems[:30]))


def entry_keys(text):
    return dict(l.split("=", 1) for l in text.splitlines() if "=" in l and not l.startswith("#"))


def check_entry(entry, dest, source_entry):
    """The shipped desktop entry, rewritten to start this installation's program
    and to name the version; whatever else it says is left as shipped."""
    got, shipped = entry_keys(open(entry).read()), entry_keys(open(source_entry).read())
    program = os.path.join(dest, "bin", "corvane-zarvo")
    check(got.get("Exec") == program + " -gui", f"{entry}: Exec={got.get('Exec')}, want {program} -gui")
    # A desktop shows the entry only when TryExec names a program that is there.
    tried = got.get("TryExec", "")
    check(os.access(tried, os.X_OK), f"{entry}: TryExec={tried} is not an executable program")
    for key in ("Name", "GenericName"):
        check(got.get(key) == f"{shipped[key]} {VERSION}", f"{entry}: {key}={got.get(key)}")
    for key in set(shipped) - {"Exec", "TryExec", "Name", "GenericName"}:
        check(got.get(key) == shipped[key], f"{entry}: {key}={got.get(key)}, shipped as {shipped[key]}")


def registered(home, *name):
    """A file the desktop tools installed, per user or (for root's "All Users")
    in the environment's stand-in for the system's data folders."""
    places = [os.path.join(home, base, *name) for base in (".local/share", "system-share")]
    found = [p for p in places if os.path.isfile(p)]
    check(found, f"not registered: none of {places}")
    return found[0]


def check_desktop(home, dest, source_entry):
    """The entry rewritten for `dest`, and menu entry and icons registered in the temporary HOME."""
    entry = os.path.join(dest, "icons", "corvane-zarvo.desktop")
    check_entry(entry, dest, source_entry)
    menu = registered(home, "applications", "corvane-zarvo.desktop")
    check(open(menu).read() == open(entry).read(), f"menu entry {menu} is not the rewritten desktop entry")
    for n in (16, 24, 32, 48):
        found = [registered(home, "icons", "hicolor", f"{n}x{n}", "apps", "corvane-zarvo.png")]
        src = os.path.join(dest, "icons", f"{n}x{n}", "corvane-zarvo.png")
        check(digest(found[0]) == digest(src), f"registered icon {found[0]} is not {src}")


def check_toolkit_from(pid, root):
    """Every toolkit library and plug-in the running program mapped comes from `root`."""
    maps = open(f"/proc/{pid}/maps").read()
    paths = sorted({l.split(None, 5)[5] for l in maps.splitlines() if len(l.split(None, 5)) == 6})
    qt = [p for p in paths if re.search(r"/libQt5|/libicu|/libqxcb|/libdouble-conversion|/libpcre2-16", p)]
    check(any("/libQt5Core.so" in p for p in qt), f"no toolkit library mapped by {pid}: {paths}")
    check(any(p.endswith("/libqxcb.so") for p in qt), f"no xcb plug-in mapped by {pid}")
    foreign = [p for p in qt if not os.path.realpath(p).startswith(os.path.realpath(root) + "/lib/")]
    check(not foreign, f"toolkit libraries loaded from outside {root}/lib: {foreign}")


# -- one run ------------------------------------------------------------------

class Run:
    """A temporary directory with a user's HOME, the display and the program."""

    def __init__(self, case, row, needs_display=True, user=None):
        self.dir = tempfile.mkdtemp(prefix=f"zarvo-e2e-{case}-{row}-")
        os.chmod(self.dir, 0o755)
        self.home = os.path.join(self.dir, "home")
        self.work = os.path.join(self.dir, "work")  # the working directory: no Makefile near it
        os.makedirs(self.work)
        self.needs_display, self.user = needs_display, user
        self.x = None

    def __enter__(self):
        if self.needs_display:
            numbers = [int(n) for n in os.environ.get("ZARVO_E2E_DISPLAYS", "").split()] or [150]
            self.x = g.XServer(numbers, user=self.user).__enter__()
        return self

    def __exit__(self, kind, value, tb):
        if self.x:
            self.x.__exit__()
        if kind is None:
            shutil.rmtree(self.dir, ignore_errors=True)
        else:
            print(f"kept for inspection: {self.dir}", file=sys.stderr)

    def env(self, desktop_session=True):
        return g.user_environment(self.home, self.x, desktop_session)

    def installer(self, program, args=(), env=None, wrapper=()):
        """The program, started through `wrapper` (a command that ends by
        executing it, so the process and its windows keep one id) when given."""
        env = env if env is not None else self.env()
        command = [*wrapper, program, *args]
        return g.Installer(command[0], command[1:], env=env, cwd=self.work, display=env.get("DISPLAY", ""),
                           logdir=os.path.join(self.dir, "screens"))


def answer_box(r, title, must_read, key="Return", timeout=30):
    """Reads the box as a screen reader announces it (its title and the
    message as its description), then answers it with `key`."""
    box = r.wait_window(title, timeout)
    r.wait_text(box, must_read[0], 10)
    nodes = r.nodes(box)
    text = g.normalise(nodes[0].description)
    for words in must_read:
        check(words in text, f"box \"{title}\" is not described as saying \"{words}\": {text!r}")
    check(not g.unnamed(nodes), f"box \"{title}\": {g.unnamed(nodes)}")
    r.key(box, key)
    r.wait_gone(box, title)
    return text


def destination_note(r, w):
    """A blank in the destination: Next is disabled, and the red note says why
    as a notification, which is also what the field now describes."""
    note = "Note: this directory path must not contain whitespace."
    g.type_destination(r, w, "~/corvane zarvo")
    r.wait_control(w, note, role="notification")
    field = r.wait_control(w, "Destination directory", description=note)
    check(not r.control(w, "Next").enabled and field.focusable, "Next enabled for a path with a blank")


def check_install_page(r, w):
    """The install page as it is heard: a status line (without the breaks that
    let paths wrap) and the bar with its percentage."""
    nodes, bar = r.nodes(w), r.control(w, "Installation progress", "progress bar")
    check(r.page(w) == g.PAGES["install"] and not g.unnamed(nodes) and bar and bar.value() == 100
          and any(n.name for n in nodes if n.description == "What the installation is doing now."),
          f"install page: {nodes}")


def finish_and_read_notes(r, w):
    r.key(w, "Return")  # Finish, with the release notes ticked
    viewer = r.wait_window("RELEASE-NOTES", 20)
    r.wait_text(viewer, f"Corvane Zarvo {VERSION} release notes", 15)
    check(not g.unnamed(r.nodes(viewer)), f"release notes: {g.unnamed(r.nodes(viewer))}")
    r.close(viewer)
    check(r.wait(20) == 0, f"installer ended with status {r.proc.returncode}; stderr: {r.stderr()!r}")


# -- the cases ------------------------------------------------------------------

def case_walk(p, row):
    """Welcome to finish, then the installed tree file by file, the marker, the
    desktop registration, the missing-library warning and the release notes."""
    if row == "tree-unreadable-file":
        return walk_failing_copy(p)
    hidden = [os.path.join(HERE, "hide-system-qt")]
    rows = {
        # source form, where the program lies, how the destination is given
        # (typed into the field in the home directory, or as an argument
        # relative to the working directory), and whether the system's
        # toolkit is out of view
        "archive": (p.bundle, os.path.join(p.bundle, "bin", "installer"), "typed", []),
        "tree": (p.tree, os.path.join(p.tree, "libexec", "installer"), "argument", []),
        "archive-system-toolkit-hidden": (p.bundle, os.path.join(p.bundle, "bin", "installer"), "typed", hidden),
    }
    source, program, given, wrapper = rows[row]
    if wrapper and os.geteuid() != 0:
        print("needs root for a private mount namespace", file=sys.stderr)
        return SKIP
    with Run("walk", row) as run:
        # Made absolute when Install is pressed: that is where the files go
        # and what the desktop entry names.
        if given == "typed":
            dest, args, typed = os.path.join(run.home, "corvane-zarvo"), [], "~/corvane-zarvo"
        else:
            dest, args, typed = os.path.join(run.work, "corvane-zarvo"), ["corvane-zarvo"], None
        os.umask(0o022)
        with run.installer(program, args, wrapper=wrapper) as r:
            w = r.wait_window(g.WIZARD_TITLE)
            check_toolkit_from(r.proc.pid, source)
            g.walk_to_install(r, w, typed, check_destination=destination_note if typed else None)
            r.wait_window("Missing Dependancies", 60)
            check_install_page(r, w)
            answer_box(r, "Missing Dependancies", [f"The shared library {MISSING_LIBRARY} is not installed",
                                                  "may not run correctly without this library"], timeout=60)
            finish_text = r.wait_page(w, g.PAGES["finished"], 60)
            check(f"Corvane Zarvo is installed in \"{dest}\"." in finish_text, f"finish page says {finish_text!r}")
            finish_and_read_notes(r, w)
        if os.path.exists(os.path.join(source, "zarvo.tgz")):
            expected = expected_from_archive(os.path.join(source, "zarvo.tgz"))
        else:
            expected = expected_from_tree(source, 0o022)
        compare_tree(dest, for_all_users(expected) if os.geteuid() == 0 else expected)
        marker = os.path.join(dest, ".installed")
        check(os.path.isfile(marker) and os.path.getsize(marker) == 0, f"no empty marker {marker}")
        check_desktop(run.home, dest, os.path.join(p.tree, "icons", "corvane-zarvo.desktop"))
        log = os.path.join(dest, "doc", "post-install.log")
        check(os.path.isfile(log) and "post-install" in open(log).read(), f"post-install.sh did not run: {log}")
        registered(run.home, "mime", "packages", "lumo-mime.xml")


def walk_failing_copy(p):
    """A tree with one file the user cannot read: the copy reports one error
    and goes on to its end. The run ends on the error page (Back disabled,
    Cancel closes) after one box, with nothing installed and without the
    after-work."""
    # An ordinary user, who owns the tree but cannot read a file of mode 000.
    nobody = 65534 if os.geteuid() == 0 else None
    with Run("walk", "tree-unreadable-file", user=nobody) as run:
        tree = os.path.join(run.dir, "installation")
        shutil.copytree(p.tree, tree, symlinks=True)
        unreadable = os.path.join(tree, "doc", "RELEASE-NOTES")
        os.chmod(unreadable, 0)
        dest = os.path.join(run.dir, "dest", "corvane-zarvo")
        os.makedirs(os.path.dirname(dest))
        env, wrapper = run.env(), []
        if nobody:
            subprocess.run(["chown", "-R", "-h", f"{nobody}:{nobody}", tree, run.home, os.path.dirname(dest)],
                           check=True)
            wrapper = g.as_user(nobody)
        with run.installer(os.path.join(tree, "libexec", "installer"), [dest], env, wrapper) as r:
            w = r.wait_window(g.WIZARD_TITLE)
            g.walk_to_install(r, w)
            answer_box(r, "Install Error", ["Can't open", "RELEASE-NOTES", "for reading"], timeout=60)
            # Any further box (the missing-library warning of the after-work) fails the wait.
            r.wait_page(w, g.PAGES["error"], 30)
            r.wait_text(w, "There was an error during the installation.", 10)
            check(not r.control(w, "Back").enabled, "Back enabled on the error page")
            r.key(w, "alt+b")
            time.sleep(0.5)
            r.wait_page(w, g.PAGES["error"], 5)
            r.key(w, "Escape")  # Cancel closes
            check(r.wait(20) == 0, f"installer ended with status {r.proc.returncode}")
        menus = [f for d, _, fs in os.walk(run.home) for f in fs if "corvane-zarvo" in f]
        check(not menus, f"after-work done after an error: {menus}")
        check(os.listdir(os.path.dirname(dest)) == [], "a failed installation left files behind")


def case_cancel(p, row):
    """Cancel while the files are being copied: the cancel page, which says
    where the log is, and nothing left of the installation."""
    rows = {"archive": os.path.join(p.large_bundle, "bin", "installer"),
            "tree": os.path.join(p.large_tree, "libexec", "installer")}
    with Run("cancel", row) as run:
        dest = os.path.join(run.dir, "dest")
        with run.installer(rows[row], [dest]) as r:
            w = r.wait_window(g.WIZARD_TITLE)
            g.walk_to_install(r, w)
            # The new tree fills a staging directory beside the destination.
            stages = lambda: glob.glob(os.path.join(run.dir, ".zarvo-transaction-*", "stage", "dest"))
            bulk = lambda: [os.path.join(d, "lib", "python") for d in stages()]
            g.wait_for("the copy to start",
                       lambda: any(os.path.isdir(b) and os.listdir(b) for b in bulk()), 30, 0.01)
            stage = stages()[0]
            # Held still while the key goes in, so that the copy cannot outrun it.
            os.kill(r.proc.pid, signal.SIGSTOP)
            try:
                copied = sum(len(f) for _, _, f in os.walk(stage))
                r.xdo("key", "Escape")
            finally:
                os.kill(r.proc.pid, signal.SIGCONT)
            r.wait_page(w, g.PAGES["cancelled"], 60)
            r.wait_text(w, "The installation was cancelled.", 10)
            r.wait_text(w, "The log of this installation is in", 10)
            r.key(w, "Return")
            check(r.wait(20) == 0, f"installer ended with status {r.proc.returncode}")
            check(not r.windows("RELEASE-NOTES"), "release notes opened after a cancel")
        total = sum(len(f) for _, _, f in os.walk(p.large_tree))
        check(0 < copied < total / 2, f"cancel was not mid-copy: {copied} of {total} files copied")
        left = [n for n in os.listdir(run.dir) if "dest" in n or "zarvo-transaction" in n]
        check(not left, f"a cancelled installation left {left}")
        print(f"cancelled with {copied} of {total} files copied, nothing left")


def case_unwritable(p, row):
    """A destination the user cannot write: the system's reason in an error box, then the error page."""
    if os.geteuid() != 0:
        print("needs root to make an unwritable place", file=sys.stderr)
        return SKIP
    reasons = {"permission-denied": "Permission denied", "read-only": "Read-only file system"}
    # As an ordinary user, for whom a directory of root's is closed.
    nobody = 65534 if row == "permission-denied" else None
    with Run("unwritable", row, user=nobody) as run:
        locked = os.path.join(run.dir, "locked")
        os.makedirs(locked)
        dest = os.path.join(locked, "zarvo")
        env = run.env()
        if nobody:
            for d, _, _ in os.walk(run.home):
                os.chown(d, nobody, nobody)
            os.chmod(run.dir, 0o755)
            wrapper = g.as_user(nobody)
        else:
            wrapper = ["unshare", "-m", "--propagation", "private", "sh", "-c",
                       f"mount -t tmpfs -o ro,size=1m none '{locked}' && exec \"$0\" \"$@\""]
        with run.installer(os.path.join(p.bundle, "bin", "installer"), [dest], env, wrapper) as r:
            w = r.wait_window(g.WIZARD_TITLE)
            g.walk_to_install(r, w)
            answer_box(r, "Install Error", ["Could not create destination directory", reasons[row]])
            r.wait_page(w, g.PAGES["error"], 20)
            r.wait_text(w, "There was an error during the installation.", 10)
            r.key(w, "Return")
            check(r.wait(20) == 0, f"installer ended with status {r.proc.returncode}")
        check(not os.path.exists(dest), f"{dest} exists after the failure")


def case_exists(p, row):
    """An existing destination: the question; No ends on the cancel page untouched, Yes installs."""
    with Run("exists", row) as run:
        dest = os.path.join(run.dir, "existing")
        os.makedirs(dest)
        keep = os.path.join(dest, "user-notes.txt")
        with open(keep, "w") as f:
            f.write("mine\n")
        with run.installer(os.path.join(p.bundle, "bin", "installer"), [dest]) as r:
            w = r.wait_window(g.WIZARD_TITLE)
            g.walk_to_install(r, w)
            answer_box(r, "Destination Exists", ["already exists", "Do you wish to continue?"],
                       key="alt+n" if row == "no" else "alt+y")
            if row == "no":
                r.wait_page(w, g.PAGES["cancelled"], 20)
                r.key(w, "Return")
                check(r.wait(20) == 0, f"installer ended with status {r.proc.returncode}")
                check(os.listdir(dest) == ["user-notes.txt"], f"{dest} was changed: {os.listdir(dest)}")
            else:
                answer_box(r, "Missing Dependancies", [MISSING_LIBRARY], timeout=60)
                r.wait_page(w, g.PAGES["finished"], 60)
                r.key(w, "Escape")  # closes without the release notes
                check(r.wait(20) == 0, f"installer ended with status {r.proc.returncode}")
                check(os.path.isfile(os.path.join(dest, ".installed")), "no marker after installing")
                check(os.path.isfile(os.path.join(dest, "bin", "pesk")), "nothing installed")
        check(open(keep).read() == "mine\n", "a file of the user's in the destination was changed")


def case_icon(p, row):
    """-icon registers the installation the installer lies in, without the wizard."""
    with Run("icon", row) as run:
        if row == "bundle-without-icons":
            with run.installer(os.path.join(p.bundle, "bin", "installer"), ["-icon"]) as r:
                # The bundle carries the archive only: no desktop entry to rewrite, no icons.
                answer_box(r, "Installation Error", ["Could not open", "for reading"])
                answer_box(r, "Missing Installation Files", ["icon files not found in"])
                check(r.wait(20) == 0, f"-icon ended with status {r.proc.returncode}")
            return
        tree = os.path.join(run.dir, "installed")
        shutil.copytree(p.tree, tree, symlinks=True)
        session = row == "desktop-session"
        env = run.env(desktop_session=session)
        with run.installer(os.path.join(tree, "libexec", "installer"), ["-icon", "/ignored/dir"], env) as r:
            g.wait_for("-icon to finish", lambda: r.proc.poll() is not None or r.boxes(
                ["Installation Error", "Missing Installation Files"]), 60)
            boxes = r.boxes(["Installation Error", "Missing Installation Files"])
            check(not boxes, f"-icon showed {boxes}: {[r.read(b) for _, b in boxes]}")
            check(r.wait(5) == 0, f"-icon ended with status {r.proc.returncode}")
            check(not r.windows(g.WIZARD_TITLE), "-icon showed the wizard")
        if session:
            check_desktop(run.home, tree, os.path.join(p.tree, "icons", "corvane-zarvo.desktop"))
        else:
            check_entry(os.path.join(tree, "icons", "corvane-zarvo.desktop"), tree,
                        os.path.join(p.tree, "icons", "corvane-zarvo.desktop"))
            registered = [os.path.join(d, f) for d, _, fs in os.walk(run.home) for f in fs]
            check(not [f for f in registered if "corvane-zarvo" in f],
                  f"registered without a desktop session: {registered}")


def case_toolkit(p, row):
    """The bundle runs on its own toolkit, also with the system's hidden from view."""
    if row == "system-hidden" and os.geteuid() != 0:
        print("needs root for a private mount namespace", file=sys.stderr)
        return SKIP
    with Run("toolkit", row) as run:
        program = os.path.join(p.bundle, "bin", "installer")
        wrapper = [os.path.join(HERE, "hide-system-qt")] if row == "system-hidden" else []
        with run.installer(program, [], wrapper=wrapper) as r:
            w = r.wait_window(g.WIZARD_TITLE)
            check_toolkit_from(r.proc.pid, p.bundle)
            r.wait_page(w, g.PAGES["welcome"])
            r.close(w)
            check(r.wait(20) == 0, f"installer ended with status {r.proc.returncode}")


def case_nodisplay(p, row):
    """No display, or an xcb plug-in that cannot load: a diagnosis on standard error, status 1."""
    with Run("nodisplay", row, needs_display=False) as run:
        env = run.env()
        env.pop("DISPLAY", None)
        args = ["-icon"] if row.endswith("icon") else []
        program = os.path.join(p.bundle, "bin", "installer")
        if row.startswith("launcher"):
            # Not set, or a display of this machine that nobody serves.
            if row == "launcher-unserved-display":
                env["DISPLAY"] = ":%d" % next(n for n in range(977, 999)
                                              if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
            r = subprocess.run([os.path.join(p.bundle, "install")], env=env, cwd=run.work,
                               capture_output=True, text=True, timeout=60)
            hint = f"{p.bundle}/bin/textinstall --accept-licence /opt/corvane/zarvo/{VERSION}\n"
            check(r.stderr.startswith("No display can be reached") and hint in r.stderr,
                  f"stderr is {r.stderr!r}")
            check(r.returncode == 1, f"status {r.returncode}, want 1")
            return
        if row.startswith("broken-plugin"):
            copy = os.path.join(run.dir, "bundle")
            for part in ("bin", "lib"):
                shutil.copytree(os.path.join(p.bundle, part), os.path.join(copy, part), symlinks=True)
            plugin = os.path.join(copy, "lib", "plugins", "platforms", "libqxcb.so")
            subprocess.run(["patchelf", "--add-needed", "libzarvo-absent.so.7", plugin], check=True)
            program = os.path.join(copy, "bin", "installer")
            env["DISPLAY"] = ":0"  # never reached: the plug-in fails first
        r = subprocess.run([program, *args], env=env, cwd=run.work, capture_output=True, text=True, timeout=60)
        if row.startswith("broken-plugin"):
            lines = r.stderr.split("\n")
            check(lines[:5] == ["Unable to load Qt QPA plugin.", "", "These dependencies could not be found:",
                                "libzarvo-absent.so.7", ""], f"diagnosis is {r.stderr!r}")
            check(lines[5].startswith("Message returned: '") and lines[5].endswith("'")
                  and "xcb" in lines[5], f"last line is {lines[5:]!r}")
        else:
            check(r.stderr == "Unable to connect to display.\n", f"stderr is {r.stderr!r}")
        check(r.returncode == 1, f"status {r.returncode}, want 1")


def case_textinstall(p, row):
    """The bundled text-mode installer installs the archive with no display and,
    as root, with the system's toolkit hidden from view or for all users (into
    stand-in system directories), registering it with the real desktop tools
    and in a site's module tree; the installation then
    verifies, refuses to be removed once moved, and is removed (by textinstall,
    or purged by its own remover): nothing of it stays but a site's file."""
    wrapper = [os.path.join(HERE, "hide-system-qt")] if row == "system-hidden" else []
    if wrapper and os.geteuid() != 0:
        print("needs root for a private mount namespace", file=sys.stderr)
        return SKIP
    all_users = ["--all-users"] if row == "all-users" else []
    if all_users and (os.geteuid() != 0 or os.path.exists("/usr/share/gnome/apps")):
        print("needs root, and no /usr/share/gnome/apps where the tools would register too", file=sys.stderr)
        return SKIP
    with Run("textinstall", row, needs_display=False) as run:
        dest = os.path.join(run.dir, "dest", "corvane-zarvo")
        modules = os.path.join(run.dir, "modules")
        os.makedirs(modules)
        env = run.env()
        env.pop("DISPLAY", None)

        def textinstall(*args, program=os.path.join(p.bundle, "bin", "textinstall")):
            return subprocess.run([*wrapper, program, *args], env=env, cwd=run.work,
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        r = textinstall("--accept-licence", *all_users, "--modulefiles", modules, dest)
        check(r.returncode == 0, f"status {r.returncode}; stderr: {r.stderr!r}")
        check("The installation is finished." in r.stdout, f"output is {r.stdout!r}")
        check(MISSING_LIBRARY in r.stderr + r.stdout, f"no missing-library warning: {r.stderr!r}")
        expected = expected_from_archive(os.path.join(p.bundle, "zarvo.tgz"))
        compare_tree(dest, for_all_users(expected) if all_users else expected)
        marker = os.path.join(dest, ".installed")
        check(os.path.isfile(marker) and os.path.getsize(marker) == 0, f"no empty marker {marker}")
        check_desktop(run.home, dest, os.path.join(p.tree, "icons", "corvane-zarvo.desktop"))
        registered(run.home, "mime", "packages", "lumo-mime.xml")
        menu = os.path.join(run.home, "system-share" if all_users else ".local/share", "applications")
        check(os.path.isfile(os.path.join(menu, "corvane-zarvo.desktop")), f"not registered in {menu}")
        check(os.path.isfile(os.path.join(modules, "corvane-zarvo", VERSION)), "no modulefile in the module tree")

        r = textinstall("--verify", dest)
        check((r.returncode, r.stdout) == (0, ""), f"verify: status {r.returncode}, {r.stdout!r}")
        site = os.path.join(dest, "doc", "site-notes.txt")
        with open(site, "w") as f:
            f.write("ours\n")
        r = textinstall("--verify", dest, "--added")
        check((r.returncode, r.stdout) == (1, f"added    {site}\n"), f"verify: status {r.returncode}, {r.stdout!r}")
        moved = dest + "-moved"
        os.rename(dest, moved)
        r = textinstall("--uninstall", moved, "--yes")
        check(r.returncode == 1 and "moved or copied" in r.stderr and os.path.isfile(os.path.join(moved, ".installed")),
              f"a moved tree: status {r.returncode}, {r.stderr!r}")
        os.rename(moved, dest)

        purge = row == "system-hidden"
        r = (textinstall("--yes", "--purge", program=os.path.join(dest, "uninstall")) if purge
             else textinstall("--uninstall", dest, "--yes"))
        check(r.returncode == 0, f"uninstall: status {r.returncode}; stderr: {r.stderr!r}")
        check(purge or f"Kept, added since the installation: {site}\n" in r.stdout, f"uninstall said {r.stdout!r}")
        left = sorted(os.path.relpath(os.path.join(d, n), run.dir) for d, dirs, files in os.walk(run.dir)
                      for n in dirs + files)
        check(os.path.exists(dest) != purge and os.listdir(modules) == [], f"left: {left}")
        check(purge or os.listdir(dest) == ["doc"] and os.listdir(os.path.dirname(site)) == ["site-notes.txt"],
              f"left in {dest}: {left}")
        # What the tools regenerate from what stays registered holds nothing of
        # it either; the logs of the installer's runs stay.
        product = [n for n in left if re.search(r"corvane|zarvo|lumo", n, re.I)
                   and not n.startswith(("dest/", "home/.local/state/corvane-zarvo"))]
        check(not product, f"left of the installation: {product}")


CASES = {"walk": case_walk, "cancel": case_cancel, "unwritable": case_unwritable, "exists": case_exists,
         "icon": case_icon, "toolkit": case_toolkit, "nodisplay": case_nodisplay,
         "textinstall": case_textinstall}


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    p = Paths(sys.argv[1])
    if sys.argv[2] == "setup":
        setup(p)
        return 0
    g.require_tools("Xvfb", "xdotool", "xprop", "import", "dbus-daemon", "patchelf")
    case, row = sys.argv[2], sys.argv[3]
    check(os.path.isdir(p.bundle), f"no bundle in {p.base}: the e2e.setup test makes it")
    started = time.monotonic()
    status = CASES[case](p, row) or 0
    print(f"{case}/{row}: {'skipped' if status == SKIP else 'passed'} in {time.monotonic() - started:.1f} s")
    return status


if __name__ == "__main__":
    sys.exit(main())
