#include "bench/netfsoperations.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace NetFs {

namespace {

const char countersName[] = ".netfs-counters";

struct DirectoryHandle
{
    DIR *stream;
    off_t offset;         // where the next entry handed out lies
    dirent *pending;      // read but not yet handed out: it did not fit
};

State &stateOf(fuse_req_t req)
{
    return *static_cast<State *>(fuse_req_userdata(req));
}

DirectoryHandle *directoryOf(const fuse_file_info *fi)
{
    return reinterpret_cast<DirectoryHandle *>(fi->fh);
}

double cacheSeconds(const struct stat &st)
{
    return S_ISDIR(st.st_mode) ? 30.0 : 3.0;
}

std::string procPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

bool statOf(int fd, struct stat *st)
{
    return fstatat(fd, "", st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) == 0;
}

void replyStatus(fuse_req_t req, bool ok)
{
    fuse_reply_err(req, ok ? 0 : errno);
}

// The entry of a name below a parent; 0 or an errno value.
int entryOf(State &state, int parentFd, const char *name, fuse_entry_param *e)
{
    *e = fuse_entry_param();
    const int fd = openat(parentFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (!statOf(fd, &e->attr)) {
        const int error = errno;
        close(fd);
        return error;
    }
    e->ino = state.nodes.remember(fd, e->attr);
    e->attr_timeout = e->entry_timeout = cacheSeconds(e->attr);
    return 0;
}

// Answers a call that made the name, or the errno value of the failure.
void replyMade(fuse_req_t req, bool made, int parentFd, const char *name)
{
    if (!made) {
        fuse_reply_err(req, errno);
        return;
    }
    fuse_entry_param e;
    const int error = entryOf(stateOf(req), parentFd, name, &e);
    if (error)
        fuse_reply_err(req, error);
    else
        fuse_reply_entry(req, &e);
}

struct stat countersAttributes()
{
    struct stat st = {};
    st.st_ino = Nodes::countersId;
    st.st_mode = S_IFREG | 0444;
    st.st_nlink = 1;
    return st;
}

void onLookup(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    State &state = stateOf(req);
    if (parent == FUSE_ROOT_ID && std::strcmp(name, countersName) == 0) {
        fuse_entry_param e = fuse_entry_param();
        e.ino = Nodes::countersId;
        e.attr = countersAttributes();
        fuse_reply_entry(req, &e);
        return;
    }
    Counters::Call call(state.counters, Op::Lookup);
    const Nodes::Fd parentFd = state.nodes.fd(parent);
    fuse_entry_param e;
    const int error = parentFd < 0 ? ESTALE : entryOf(state, parentFd, name, &e);
    if (error)
        fuse_reply_err(req, error);
    else
        fuse_reply_entry(req, &e);
}

void onForget(fuse_req_t req, fuse_ino_t ino, uint64_t count)
{
    stateOf(req).nodes.forget(ino, count);
    fuse_reply_none(req);
}

void onForgetMany(fuse_req_t req, size_t count, fuse_forget_data *forgets)
{
    for (size_t i = 0; i < count; ++i)
        stateOf(req).nodes.forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(req);
}

void replyAttributes(fuse_req_t req, int fd)
{
    struct stat st;
    if (statOf(fd, &st))
        fuse_reply_attr(req, &st, cacheSeconds(st));
    else
        fuse_reply_err(req, errno);
}

void onGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info *)
{
    State &state = stateOf(req);
    if (ino == Nodes::countersId) {
        const struct stat st = countersAttributes();
        fuse_reply_attr(req, &st, 0);
        return;
    }
    Counters::Call call(state.counters, Op::Getattr);
    const Nodes::Fd fd = state.nodes.fd(ino);
    if (fd < 0)
        fuse_reply_err(req, ESTALE);
    else
        replyAttributes(req, fd);
}

// Changes what was asked in turn; false (errno set) at the first failure.
bool changeAttributes(int fd, const struct stat &attr, int toSet, const fuse_file_info *fi)
{
    if ((toSet & FUSE_SET_ATTR_MODE)
        && fchmodat(AT_FDCWD, procPath(fd).c_str(), attr.st_mode & 07777, 0) != 0)
        return false;
    if (toSet & (FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID)) {
        const uid_t uid = (toSet & FUSE_SET_ATTR_UID) ? attr.st_uid : uid_t(-1);
        const gid_t gid = (toSet & FUSE_SET_ATTR_GID) ? attr.st_gid : gid_t(-1);
        if (fchownat(fd, "", uid, gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
            return false;
    }
    if (toSet & FUSE_SET_ATTR_SIZE) {
        // Only a regular file's handle comes with a change of size.
        const int result = fi ? ftruncate(int(fi->fh), attr.st_size)
                              : truncate(procPath(fd).c_str(), attr.st_size);
        if (result != 0)
            return false;
    }
    if (toSet & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME)) {
        timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
        if (toSet & FUSE_SET_ATTR_ATIME_NOW)
            times[0].tv_nsec = UTIME_NOW;
        else if (toSet & FUSE_SET_ATTR_ATIME)
            times[0] = attr.st_atim;
        if (toSet & FUSE_SET_ATTR_MTIME_NOW)
            times[1].tv_nsec = UTIME_NOW;
        else if (toSet & FUSE_SET_ATTR_MTIME)
            times[1] = attr.st_mtim;
        if (utimensat(fd, "", times, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW) != 0)
            return false;
    }
    return true;
}

void onSetattr(fuse_req_t req, fuse_ino_t ino, struct stat *attr, int toSet, fuse_file_info *fi)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Setattr);
    const Nodes::Fd fd = state.nodes.fd(ino);
    if (fd < 0)
        fuse_reply_err(req, ESTALE);
    else if (!changeAttributes(fd, *attr, toSet, fi))
        fuse_reply_err(req, errno);
    else
        replyAttributes(req, fd);
}

void onReadlink(fuse_req_t req, fuse_ino_t ino)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Readlink);
    char target[PATH_MAX + 1];
    const ssize_t length = readlinkat(state.nodes.fd(ino), "", target, PATH_MAX);
    if (length < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    target[length] = '\0';
    fuse_reply_readlink(req, target);
}

void onMknod(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode, dev_t device)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Mknod);
    const Nodes::Fd parentFd = state.nodes.fd(parent);
    replyMade(req, mknodat(parentFd, name, mode, device) == 0, parentFd, name);
}

void onMkdir(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Mkdir);
    const Nodes::Fd parentFd = state.nodes.fd(parent);
    replyMade(req, mkdirat(parentFd, name, mode) == 0, parentFd, name);
}

void onSymlink(fuse_req_t req, const char *target, fuse_ino_t parent, const char *name)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Symlink);
    const Nodes::Fd parentFd = state.nodes.fd(parent);
    replyMade(req, symlinkat(target, parentFd, name) == 0, parentFd, name);
}

void onLink(fuse_req_t req, fuse_ino_t ino, fuse_ino_t newParent, const char *newName)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Link);
    const Nodes::Fd fd = state.nodes.fd(ino);
    const Nodes::Fd parentFd = state.nodes.fd(newParent);
    // Linking a descriptor itself takes privilege; the path of a regular
    // file's descriptor does not.
    bool linked = linkat(fd, "", parentFd, newName, AT_EMPTY_PATH) == 0;
    if (!linked && (errno == ENOENT || errno == EPERM))
        linked = linkat(AT_FDCWD, procPath(fd).c_str(), parentFd, newName, AT_SYMLINK_FOLLOW) == 0;
    replyMade(req, linked, parentFd, newName);
}

void onRemove(fuse_req_t req, fuse_ino_t parent, const char *name, Op op, int flags)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, op);
    replyStatus(req, unlinkat(state.nodes.fd(parent), name, flags) == 0);
}

void onUnlink(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    onRemove(req, parent, name, Op::Unlink, 0);
}

void onRmdir(fuse_req_t req, fuse_ino_t parent, const char *name)
{
    onRemove(req, parent, name, Op::Rmdir, AT_REMOVEDIR);
}

void onRename(fuse_req_t req, fuse_ino_t parent, const char *name, fuse_ino_t newParent,
              const char *newName, unsigned int flags)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Rename);
    replyStatus(req, renameat2(state.nodes.fd(parent), name, state.nodes.fd(newParent), newName,
                               flags) == 0);
}

void onOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    State &state = stateOf(req);
    if (ino == Nodes::countersId) {
        fi->fh = reinterpret_cast<uint64_t>(new std::string(state.counters.report()));
        fi->direct_io = 1;
        fuse_reply_open(req, fi);
        return;
    }
    Counters::Call call(state.counters, Op::Open);
    const int fd = open(procPath(state.nodes.fd(ino)).c_str(),
                        (fi->flags & ~O_NOFOLLOW) | O_CLOEXEC);
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fi->fh = uint64_t(fd);
    fuse_reply_open(req, fi);
}

void onCreate(fuse_req_t req, fuse_ino_t parent, const char *name, mode_t mode,
              fuse_file_info *fi)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Create);
    const Nodes::Fd parentFd = state.nodes.fd(parent);
    const int fd = openat(parentFd, name, fi->flags | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0) {
        fuse_reply_err(req, errno);
        return;
    }
    fuse_entry_param e;
    const int error = entryOf(state, parentFd, name, &e);
    if (error) {
        close(fd);
        fuse_reply_err(req, error);
        return;
    }
    fi->fh = uint64_t(fd);
    fuse_reply_create(req, &e, fi);
}

void onRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info *fi)
{
    if (ino == Nodes::countersId) {
        const std::string &text = *reinterpret_cast<const std::string *>(fi->fh);
        const size_t from = std::min(text.size(), size_t(offset));
        fuse_reply_buf(req, text.data() + from, std::min(size, text.size() - from));
        return;
    }
    Counters::Call call(stateOf(req).counters, Op::Read);
    fuse_bufvec data = FUSE_BUFVEC_INIT(size);
    data.buf[0].flags = fuse_buf_flags(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    data.buf[0].fd = int(fi->fh);
    data.buf[0].pos = offset;
    fuse_reply_data(req, &data, FUSE_BUF_SPLICE_MOVE);
}

void onWrite(fuse_req_t req, fuse_ino_t, const char *bytes, size_t size, off_t offset,
             fuse_file_info *fi)
{
    Counters::Call call(stateOf(req).counters, Op::Write);
    const ssize_t written = pwrite(int(fi->fh), bytes, size, offset);
    if (written < 0)
        fuse_reply_err(req, errno);
    else
        fuse_reply_write(req, size_t(written));
}

void onFlush(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    if (ino == Nodes::countersId) {
        fuse_reply_err(req, 0);
        return;
    }
    Counters::Call call(stateOf(req).counters, Op::Flush);
    // Closing a copy reports what closing the file itself would.
    const int copy = dup(int(fi->fh));
    replyStatus(req, copy >= 0 && close(copy) == 0);
}

void onRelease(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    if (ino == Nodes::countersId) {
        delete reinterpret_cast<std::string *>(fi->fh);
        fuse_reply_err(req, 0);
        return;
    }
    Counters::Call call(stateOf(req).counters, Op::Release);
    close(int(fi->fh));
    fuse_reply_err(req, 0);
}

void onFsync(fuse_req_t req, fuse_ino_t, int dataOnly, fuse_file_info *fi)
{
    Counters::Call call(stateOf(req).counters, Op::Fsync);
    const int fd = int(fi->fh);
    replyStatus(req, (dataOnly ? fdatasync(fd) : fsync(fd)) == 0);
}

void onOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info *fi)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Opendir);
    const int fd = openat(state.nodes.fd(ino), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *stream = fd < 0 ? nullptr : fdopendir(fd);
    if (!stream) {
        const int error = errno;
        if (fd >= 0)
            close(fd);
        fuse_reply_err(req, error);
        return;
    }
    fi->fh = reinterpret_cast<uint64_t>(new DirectoryHandle{stream, 0, nullptr});
    fuse_reply_open(req, fi);
}

// The kernel reads one open directory at a time, so a handle needs no lock.
void onReaddir(fuse_req_t req, fuse_ino_t, size_t size, off_t offset, fuse_file_info *fi)
{
    Counters::Call call(stateOf(req).counters, Op::Readdir);
    DirectoryHandle &handle = *directoryOf(fi);
    if (offset != handle.offset) {
        seekdir(handle.stream, offset);
        handle.offset = offset;
        handle.pending = nullptr;
    }
    std::vector<char> buffer(size);
    size_t used = 0;
    for (;;) {
        if (!handle.pending) {
            errno = 0;
            handle.pending = readdir(handle.stream);
            if (!handle.pending) {
                if (errno != 0 && used == 0) {
                    fuse_reply_err(req, errno);
                    return;
                }
                break;
            }
        }
        struct stat st = {};
        st.st_ino = handle.pending->d_ino;
        st.st_mode = mode_t(DTTOIF(handle.pending->d_type));
        const size_t needed = fuse_add_direntry(req, buffer.data() + used, size - used,
                                                handle.pending->d_name, &st,
                                                handle.pending->d_off);
        if (needed > size - used)
            break;
        used += needed;
        handle.offset = handle.pending->d_off;
        handle.pending = nullptr;
    }
    fuse_reply_buf(req, buffer.data(), used);
}

void onReleasedir(fuse_req_t req, fuse_ino_t, fuse_file_info *fi)
{
    Counters::Call call(stateOf(req).counters, Op::Releasedir);
    const std::unique_ptr<DirectoryHandle> handle(directoryOf(fi));
    closedir(handle->stream);
    fuse_reply_err(req, 0);
}

void onFsyncdir(fuse_req_t req, fuse_ino_t, int dataOnly, fuse_file_info *fi)
{
    Counters::Call call(stateOf(req).counters, Op::Fsyncdir);
    const int fd = dirfd(directoryOf(fi)->stream);
    replyStatus(req, (dataOnly ? fdatasync(fd) : fsync(fd)) == 0);
}

void onStatfs(fuse_req_t req, fuse_ino_t ino)
{
    State &state = stateOf(req);
    Counters::Call call(state.counters, Op::Statfs);
    struct statvfs st;
    const Nodes::Fd fd = state.nodes.fd(ino == Nodes::countersId ? FUSE_ROOT_ID : ino);
    if (fstatvfs(fd, &st) == 0)
        fuse_reply_statfs(req, &st);
    else
        fuse_reply_err(req, errno);
}

void onInit(void *, fuse_conn_info *connection)
{
    // One call opens and truncates, as an open over the network does.
    if (connection->capable & FUSE_CAP_ATOMIC_O_TRUNC)
        connection->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    connection->want &= ~FUSE_CAP_WRITEBACK_CACHE;
}

} // namespace

fuse_lowlevel_ops operations()
{
    fuse_lowlevel_ops ops = {};
    ops.init = onInit;
    ops.lookup = onLookup;
    ops.forget = onForget;
    ops.forget_multi = onForgetMany;
    ops.getattr = onGetattr;
    ops.setattr = onSetattr;
    ops.readlink = onReadlink;
    ops.mknod = onMknod;
    ops.mkdir = onMkdir;
    ops.symlink = onSymlink;
    ops.link = onLink;
    ops.unlink = onUnlink;
    ops.rmdir = onRmdir;
    ops.rename = onRename;
    ops.open = onOpen;
    ops.create = onCreate;
    ops.read = onRead;
    ops.write = onWrite;
    ops.flush = onFlush;
    ops.release = onRelease;
    ops.fsync = onFsync;
    ops.opendir = onOpendir;
    ops.readdir = onReaddir;
    ops.releasedir = onReleasedir;
    ops.fsyncdir = onFsyncdir;
    ops.statfs = onStatfs;
    return ops;
}

} // namespace NetFs
