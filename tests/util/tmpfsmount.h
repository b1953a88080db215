#ifndef ZARVO_TESTS_TMPFSMOUNT_H
#define ZARVO_TESTS_TMPFSMOUNT_H

#include <QString>

// A small tmpfs mounted for the lifetime of the object, to try what a full
// disk does or to keep a test's files in memory; the directory is made if
// missing. Needs the right to mount (root). The mount is private to this
// process where it may have a mount namespace of its own, so a test killed
// before its end leaves no mount behind.
class TmpfsMount
{
public:
    TmpfsMount(const QString &directory, const QByteArray &size);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool isMounted() const { return m_mounted; }
    QByteArray path() const { return m_directory; }
    // Why mounting was refused, for the skip message.
    QString refusal() const { return m_refusal; }

private:
    QByteArray m_directory;
    bool m_mounted;
    QString m_refusal;
};

#endif
