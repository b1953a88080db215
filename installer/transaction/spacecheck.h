#ifndef ZARVO_TRANSACTION_SPACECHECK_H
#define ZARVO_TRANSACTION_SPACECHECK_H

#include <QCoreApplication>
#include <QString>

// Whether the destination's file system can take an installation, checked
// before anything is written. The counting pass adds every entry; sizes are
// rounded up to the file system's block size, and each entry takes an inode.
class SpaceCheck
{
    Q_DECLARE_TR_FUNCTIONS(SpaceCheck)

public:
    // Looks at the file system of `destination`, or of its nearest existing
    // ancestor when it does not exist yet.
    explicit SpaceCheck(const QString &destination);

    qint64 blockSize() const { return m_blockSize; }
    void addFile(qint64 size);
    void addDirectory();
    void addLink(qint64 targetLength);

    qint64 neededBytes() const { return m_bytes; }
    qint64 neededEntries() const { return m_entries; }

    // Empty when there is room (or the free figures cannot be had),
    // otherwise the message naming what is needed and what is free.
    QString shortage() const;

private:
    QString m_destination;
    QByteArray m_existing;
    qint64 m_blockSize = 4096;
    qint64 m_bytes = 0;
    qint64 m_entries = 0;
};

#endif
