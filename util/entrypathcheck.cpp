#include "util/entrypathcheck.h"

#include <QCoreApplication>
#include <QFile>

#include <archive_entry.h>

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString translate(const char *text)
{
    return QCoreApplication::translate("Tar", text);
}

// The components of a relative name, without empty and "." ones.
QByteArrayList componentsOf(const QByteArray &name, bool *climbs)
{
    QByteArrayList components;
    *climbs = false;
    for (const QByteArray &part : name.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            *climbs = true;
        components.append(part);
    }
    return components;
}

bool startsWith(const QByteArrayList &list, const QByteArrayList &prefix, int count)
{
    if (prefix.size() > count)
        return false;
    for (int i = 0; i < prefix.size(); ++i) {
        if (list.at(i) != prefix.at(i))
            return false;
    }
    return true;
}

} // namespace

EntryPathCheck::EntryPathCheck(const QByteArray &destination)
    : m_destination(destination)
{
}

QByteArray EntryPathCheck::pathBelow(const QByteArray &storedName) const
{
    if (m_destination.isEmpty())
        return storedName;
    return m_destination + '/' + storedName;
}

QString EntryPathCheck::shownPath(const QByteArray &path) const
{
    if (m_shown.isEmpty() || m_destination.isEmpty() || !path.startsWith(m_destination))
        return QFile::decodeName(path);
    return QFile::decodeName(m_shown + path.mid(m_destination.size()));
}

int EntryPathCheck::finalLength(const QByteArray &path) const
{
    if (m_shown.isEmpty() || m_destination.isEmpty())
        return path.size();
    return path.size() - m_destination.size() + m_shown.size();
}

QString EntryPathCheck::refusal(archive_entry *entry)
{
    const char *rawName = archive_entry_pathname(entry);
    const QByteArray name(rawName ? rawName : "");
    if (name.isEmpty())
        return translate("the entry has no name");
    if (name.startsWith('/'))
        return translate("absolute names are not installed");
    bool climbs = false;
    const QByteArrayList components = componentsOf(name, &climbs);
    if (climbs)
        return translate("the name leads out of the destination directory");

    switch (archive_entry_filetype(entry)) {
    case AE_IFCHR:
    case AE_IFBLK:
    case AE_IFIFO:
    case AE_IFSOCK:
        return translate("device nodes, pipes and sockets are not installed");
    default:
        break;
    }
    const bool isDirectory = archive_entry_filetype(entry) == AE_IFDIR;
    if (components.isEmpty() && !isDirectory)
        return translate("the entry would replace the destination directory itself");

    const QByteArray path = pathBelow(name);
    if (finalLength(path) >= PATH_MAX)
        return translate("the path is longer than the system allows");

    // A directory that already exists as a link would get its permissions
    // and times through the link.
    const int count = isDirectory ? components.size() : components.size() - 1;
    QByteArray stale;
    QString reason = linkOnTheWay(components, count, &stale);
    if (!reason.isEmpty())
        return reason;

    if (const char *rawTarget = archive_entry_hardlink(entry)) {
        const QByteArray target(rawTarget);
        if (target.startsWith('/'))
            return translate("the hard link target \"%1\" is absolute")
                .arg(QString::fromLocal8Bit(target));
        const QByteArrayList targetComponents = componentsOf(target, &climbs);
        if (climbs || targetComponents.isEmpty())
            return translate("the hard link target \"%1\" leads out of the destination directory")
                .arg(QString::fromLocal8Bit(target));
        if (finalLength(pathBelow(target)) >= PATH_MAX)
            return translate("the path is longer than the system allows");
        // The link itself is made to the target's last component, so that
        // one must not be a symbolic link either.
        reason = linkOnTheWay(targetComponents, targetComponents.size());
        if (!reason.isEmpty())
            return reason;
        // Over an earlier installation a file of that name may exist already,
        // and the new one must not share its data.
        if (!m_written.contains(targetComponents.join('/')))
            return translate("the hard link target \"%1\" does not come before it in the archive")
                .arg(QString::fromLocal8Bit(target));
    }

    if (!stale.isEmpty() && ::unlink(stale.constData()) != 0)
        return translate("the symbolic link \"%1\" cannot be replaced: %2")
            .arg(shownPath(stale), qt_error_string(errno));
    if (count > 0)
        m_verified = components.mid(0, count);
    if (!isDirectory) {
        const QByteArray key = components.join('/');
        m_written.insert(key);
        // A new link invalidates what was verified.
        if (archive_entry_filetype(entry) == AE_IFLNK) {
            m_links.insert(key);
            m_verified.clear();
        }
    }
    return QString();
}

QString EntryPathCheck::linkOnTheWay(const QByteArrayList &components, int count,
                                     QByteArray *stale)
{
    int first = 0;
    if (startsWith(components, m_verified, count))
        first = m_verified.size();
    QByteArray path = m_destination.isEmpty() ? QByteArray(".") : m_destination;
    for (int i = 0; i < first; ++i)
        path += '/' + components.at(i);
    for (int i = first; i < count; ++i) {
        path += '/' + components.at(i);
        struct stat st;
        if (::lstat(path.constData(), &st) != 0)
            return QString(); // nothing further down exists yet
        if (!S_ISLNK(st.st_mode))
            continue;
        // Nothing below it is looked at: it is to be a new directory.
        if (stale && !m_links.contains(components.mid(0, i + 1).join('/'))) {
            *stale = path;
            return QString();
        }
        return translate("the path passes through the symbolic link \"%1\"")
            .arg(shownPath(path));
    }
    return QString();
}
