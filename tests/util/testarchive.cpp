#include "tests/util/testarchive.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <sys/sysmacros.h>

TestArchive &TestArchive::file(const QByteArray &name, const QByteArray &data, mode_t perm,
                               time_t mtime)
{
    m_entries.append({name, AE_IFREG, perm, data, QByteArray(), false, mtime});
    return *this;
}

TestArchive &TestArchive::directory(const QByteArray &name, mode_t perm, time_t mtime)
{
    m_entries.append({name, AE_IFDIR, perm, QByteArray(), QByteArray(), false, mtime});
    return *this;
}

TestArchive &TestArchive::symlink(const QByteArray &name, const QByteArray &target)
{
    m_entries.append({name, AE_IFLNK, 0777, QByteArray(), target, false, 1500000000});
    return *this;
}

TestArchive &TestArchive::hardlink(const QByteArray &name, const QByteArray &target,
                                   const QByteArray &data)
{
    m_entries.append({name, AE_IFREG, 0644, data, target, true, 1500000000});
    return *this;
}

TestArchive &TestArchive::special(const QByteArray &name, mode_t type)
{
    m_entries.append({name, type, 0666, QByteArray(), QByteArray(), false, 1500000000});
    return *this;
}

bool TestArchive::write(const QString &path, Format format) const
{
    std::unique_ptr<archive, int (*)(archive *)> writer(archive_write_new(), archive_write_free);
    if (format == Pax)
        archive_write_set_format_pax_restricted(writer.get());
    else
        archive_write_set_format_ustar(writer.get());
    archive_write_add_filter_gzip(writer.get());
    if (archive_write_open_filename(writer.get(), QFile::encodeName(path).constData())
        != ARCHIVE_OK)
        return false;
    for (const Entry &e : m_entries) {
        std::unique_ptr<archive_entry, void (*)(archive_entry *)> entry(archive_entry_new(),
                                                                        archive_entry_free);
        archive_entry_set_pathname(entry.get(), e.name.constData());
        archive_entry_set_filetype(entry.get(), e.type);
        archive_entry_set_perm(entry.get(), e.perm);
        archive_entry_set_mtime(entry.get(), e.mtime, 0);
        archive_entry_set_size(entry.get(), e.data.size());
        if (e.type == AE_IFCHR || e.type == AE_IFBLK)
            archive_entry_set_rdev(entry.get(), makedev(1, 3));
        if (e.hardlink)
            archive_entry_set_hardlink(entry.get(), e.linkTarget.constData());
        else if (e.type == AE_IFLNK)
            archive_entry_set_symlink(entry.get(), e.linkTarget.constData());
        if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
            return false;
        if (!e.data.isEmpty()
            && archive_write_data(writer.get(), e.data.constData(), size_t(e.data.size()))
                != e.data.size())
            return false;
    }
    return archive_write_close(writer.get()) == ARCHIVE_OK;
}
