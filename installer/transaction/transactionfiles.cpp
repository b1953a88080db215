#include "installer/transaction/transactionfiles.h"

#include "installer/transaction/beneath.h"
#include "installer/transaction/statedirectory.h"
#include "util/contenthash.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace TransactionFiles {

const char journal[] = "journal";
const char committed[] = "committed";
const char undone[] = "undone";
const char stage[] = "stage";
const char backup[] = "backup";

namespace {

// "xxh128:" and the digits.
QByteArray digitsOf(const QByteArray &data)
{
    return ContentHash::ofBytes(data).mid(7);
}

} // namespace

QByteArray nameFor(bool fresh, const QByteArray &top)
{
    const QByteArray name(".zarvo-transaction");
    return fresh ? name + '-' + digitsOf(top).left(12) : name;
}

QByteArray join(const QByteArray &directory, const QByteArray &name)
{
    if (directory.isEmpty())
        return name;
    return directory.endsWith('/') ? directory + name : directory + '/' + name;
}

QByteArray parentPath(const QByteArray &absolute)
{
    const int slash = absolute.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : absolute.left(slash);
}

QString notePath(const QByteArray &home, const QByteArray &name)
{
    return stateDirectory() + QLatin1String("/transactions/")
        + QString::fromLatin1(digitsOf(join(home, name)));
}

bool appendDurably(int fd, const QByteArray &text)
{
    for (int written = 0; written < text.size();) {
        const ssize_t put = ::write(fd, text.constData() + written, size_t(text.size() - written));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return false;
        written += int(put);
    }
    return ::fdatasync(fd) == 0;
}

QByteArray readAll(int fd)
{
    QByteArray text;
    char buffer[65536];
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return text;
        text.append(buffer, int(got));
        offset += got;
    }
}

bool removeTransaction(int home, const QByteArray &name, const struct timespec *homeTimes)
{
    const Beneath::Descriptor transaction = Beneath::openDirectory(home, name);
    bool ok = true;
    if (transaction.isValid()) {
        Beneath::Root inTransaction(transaction.get());
        ok = Beneath::removeTree(inTransaction, stage) && Beneath::removeTree(inTransaction, backup);
        for (const char *file : {journal, committed, undone})
            ok = ok && (::unlinkat(transaction.get(), file, 0) == 0 || errno == ENOENT);
    }
    ok = ok && (::unlinkat(home, name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT);
    if (ok && homeTimes)
        ok = ::futimens(home, homeTimes) == 0;
    Beneath::syncDirectory(home);
    return ok;
}

} // namespace TransactionFiles
