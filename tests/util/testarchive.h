#ifndef ZARVO_TESTS_TESTARCHIVE_H
#define ZARVO_TESTS_TESTARCHIVE_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <sys/types.h>
#include <ctime>

// Writes gzip-compressed tar archives for the tests, entry by entry, with any
// name, type and mode, including the hostile ones a tampered archive holds.
class TestArchive
{
public:
    enum Format { Ustar, Pax };

    TestArchive &file(const QByteArray &name, const QByteArray &data, mode_t perm = 0644,
                      time_t mtime = 1500000000);
    TestArchive &directory(const QByteArray &name, mode_t perm = 0755, time_t mtime = 1500000000);
    TestArchive &symlink(const QByteArray &name, const QByteArray &target);
    TestArchive &hardlink(const QByteArray &name, const QByteArray &target,
                          const QByteArray &data = QByteArray());
    // A device node (AE_IFCHR, AE_IFBLK), FIFO (AE_IFIFO) or the like.
    TestArchive &special(const QByteArray &name, mode_t type);

    int size() const { return m_entries.size(); }
    bool write(const QString &path, Format format = Pax) const;

private:
    struct Entry
    {
        QByteArray name;
        mode_t type;
        mode_t perm;
        QByteArray data;
        QByteArray linkTarget;
        bool hardlink;
        time_t mtime;
    };
    QVector<Entry> m_entries;
};

#endif
