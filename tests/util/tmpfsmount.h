#ifndef ZARVO_TESTS_TMPFSMOUNT_H
#define ZARVO_TESTS_TMPFSMOUNT_H

#include <QString>

// A small tmpfs mounted on an existing directory for the lifetime of the
// object, to try what a full disk does. Needs the right to mount (root).
class TmpfsMount
{
public:
    TmpfsMount(const QString &directory, const QByteArray &size);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool isMounted() const { return m_mounted; }
    // Why mounting was refused, for the skip message.
    QString refusal() const { return m_refusal; }

private:
    QByteArray m_directory;
    bool m_mounted;
    QString m_refusal;
};

#endif
