#ifndef ZARVO_TEXTINSTALL_SOURCECONTENTS_H
#define ZARVO_TEXTINSTALL_SOURCECONTENTS_H

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <functional>

// What the installation files hold, read as an installation reads them and
// with nothing written: the archive through the gzip reader that checks
// every member's checksum, or the unpacked tree as a copy takes it (visible
// entries, links followed, a link back to a directory it lies in skipped).
class SourceInspection
{
    Q_DECLARE_TR_FUNCTIONS(SourceInspection)

public:
    struct Entry
    {
        // As stored in the archive; relative to the tree, "/" after a directory.
        QByteArray name;
        bool isDirectory = false;
        // Bytes of a file's content; 0 for anything else.
        qint64 size = 0;
    };

    explicit SourceInspection(const QString &sourceDir);

    bool isArchive() const { return m_isArchive; }
    // The archive, or the top of the tree.
    QString path() const { return m_path; }

    // Calls `visit` for every entry, in order. An archive is read whole,
    // checksums included; with `readFiles`, every file of a tree is read to
    // its end too. False, with error(), at the first thing that fails.
    bool walk(const std::function<void(const Entry &)> &visit, bool readFiles = false);
    QString error() const { return m_error; }

private:
    bool walkArchive(const std::function<void(const Entry &)> &visit);
    bool walkTree(int directory, const QByteArray &path,
                  const std::function<void(const Entry &)> &visit, bool readFiles,
                  QList<QPair<dev_t, ino_t>> &descent);
    bool fail(const QString &error);

    QString m_path;
    bool m_isArchive;
    QString m_error;
};

#endif
