#ifndef ZARVO_TESTS_TESTARCHIVE_H
#define ZARVO_TESTS_TESTARCHIVE_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <ctime>
#include <sys/types.h>

// Writes gzip-compressed tar archives for the tests, header by header, so
// that they can hold anything a damaged or tampered archive holds: absolute
// names, "..", hard links to anywhere and with data, device nodes, names
// that are not valid in any encoding. Names and link targets longer than a
// tar header's field go into an extended (pax) header.
class TestArchive
{
public:
    TestArchive &file(const QByteArray &name, const QByteArray &data, mode_t perm = 0644,
                      time_t mtime = 1500000000);
    TestArchive &directory(const QByteArray &name, mode_t perm = 0755, time_t mtime = 1500000000);
    TestArchive &symlink(const QByteArray &name, const QByteArray &target);
    TestArchive &hardlink(const QByteArray &name, const QByteArray &target,
                          const QByteArray &data = QByteArray());
    // '3' character device, '4' block device, '6' named pipe.
    TestArchive &special(const QByteArray &name, char typeflag);

    // A copy with `placeholder` replaced in every name and link target.
    TestArchive withPlaceholder(const QByteArray &placeholder, const QByteArray &value) const;

    // A copy without the last entry.
    TestArchive withoutLast() const;

    int size() const { return m_entries.size(); }
    // The uncompressed tar stream.
    QByteArray tar() const;
    bool write(const QString &path) const;

private:
    struct Entry
    {
        QByteArray name;
        char typeflag;
        mode_t perm;
        QByteArray data;
        QByteArray linkTarget;
        time_t mtime;
    };
    QVector<Entry> m_entries;
};

// Gzip-compresses data (as gzip itself would, with a gzip header).
QByteArray gzipped(const QByteArray &data);

// Names, types, modes and contents of everything below root, links not
// followed, for comparing a directory before and after an installation.
QStringList snapshot(const QString &root);

#endif
