#include "textinstall/sourcecontents.h"

#include "installer/productidentity.h"
#include "util/archivereader.h"
#include "util/gzipstream.h"
#include "util/sourcelisting.h"

#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The texts the installation itself uses for the same failures.
QString readFailure(const QString &path, const QString &reason)
{
    return QCoreApplication::translate("Tar", "Error reading \"%1\": %2.").arg(path, reason);
}

QString directoryFailure(const QString &path, int error)
{
    return QCoreApplication::translate("Tar", "Can't read directory \"%1\": %2.")
        .arg(path, qt_error_string(error));
}

// Reads the file `name` in `directory` to its end; 0, or why it cannot.
int readToEnd(int directory, const char *name)
{
    const int fd = ::openat(directory, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    static char buffer[256 * 1024];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    }
    const int error = got < 0 ? errno : 0;
    ::close(fd);
    return error;
}

} // namespace

SourceInspection::SourceInspection(const QString &sourceDir)
{
    const QString archive = sourceDir + QLatin1Char('/') + QLatin1String(productIdentity.archiveName);
    // As the installation decides.
    m_isArchive = QFileInfo::exists(archive);
    m_path = m_isArchive ? archive : sourceDir;
}

bool SourceInspection::fail(const QString &error)
{
    m_error = error;
    return false;
}

bool SourceInspection::walk(const std::function<void(const Entry &)> &visit, bool readFiles)
{
    m_error.clear();
    if (m_isArchive)
        return walkArchive(visit);
    const int top = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0)
        return fail(directoryFailure(m_path, errno));
    struct stat st;
    QList<QPair<dev_t, ino_t>> descent;
    if (::fstat(top, &st) == 0)
        descent.append(qMakePair(st.st_dev, st.st_ino));
    const bool walked = walkTree(top, QByteArray(), visit, readFiles, descent);
    ::close(top);
    return walked;
}

bool SourceInspection::walkArchive(const std::function<void(const Entry &)> &visit)
{
    // Declared before the reader, whose close calls back into it.
    GzipStream stream(m_path);
    ArchiveReader reader = newReader();
    if (!openArchive(reader.get(), stream))
        return fail(openFailure(m_path, stream, reader.get()));
    for (;;) {
        archive_entry *entry;
        const int result = archive_read_next_header(reader.get(), &entry);
        // Skipping an entry's data reads it through the checksums as well,
        // up to the end of the last member.
        if (result == ARCHIVE_EOF)
            return stream.finish() || fail(readFailure(m_path, stream.errorString()));
        if (result != ARCHIVE_OK)
            return fail(readFailure(m_path, readError(stream, reader.get())));
        Entry shown;
        shown.name = archive_entry_pathname(entry);
        shown.isDirectory = archive_entry_filetype(entry) == AE_IFDIR;
        if (archive_entry_filetype(entry) == AE_IFREG && !archive_entry_hardlink(entry))
            shown.size = archive_entry_size(entry);
        visit(shown);
    }
}

bool SourceInspection::walkTree(int directory, const QByteArray &path,
                                const std::function<void(const Entry &)> &visit, bool readFiles,
                                QList<QPair<dev_t, ino_t>> &descent)
{
    const auto shownPath = [this](const QByteArray &inner) {
        return m_path + QLatin1Char('/') + QFile::decodeName(inner);
    };
    std::vector<ListedEntry> entries;
    if (const int failure = listDirectory(directory, &entries))
        return fail(directoryFailure(path.isEmpty() ? m_path : shownPath(path), failure));
    for (const ListedEntry &listed : entries) {
        const QByteArray inner = path.isEmpty() ? listed.name : path + '/' + listed.name;
        if (listed.error != 0) {
            return fail(QCoreApplication::translate("Tar", "Can't read file information for "
                                                           "\"%1\": %2.")
                            .arg(shownPath(inner), qt_error_string(listed.error)));
        }
        if (!listed.isDirectory) {
            visit({inner, false, listed.size});
            const int failure = readFiles ? readToEnd(directory, listed.name.constData()) : 0;
            if (failure != 0)
                return fail(readFailure(shownPath(inner), qt_error_string(failure)));
            continue;
        }
        // The copy skips a link back to a directory it lies in.
        const QPair<dev_t, ino_t> id(listed.device, listed.inode);
        if (descent.contains(id))
            continue;
        visit({inner + '/', true, 0});
        const int inside = ::openat(directory, listed.name.constData(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (inside < 0)
            return fail(directoryFailure(shownPath(inner), errno));
        descent.append(id);
        const bool walked = walkTree(inside, inner, visit, readFiles, descent);
        descent.removeLast();
        ::close(inside);
        if (!walked)
            return false;
    }
    return true;
}
