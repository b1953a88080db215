#ifndef ZARVO_UTIL_TAR_H
#define ZARVO_UTIL_TAR_H

#include <QObject>
#include <QString>

#include <atomic>

// Counts, copies and extracts the installation on behalf of the install
// thread. Works synchronously on the calling thread and reports only through
// its signals; cancel() may be called from any thread.
class Tar : public QObject
{
    Q_OBJECT

public:
    explicit Tar(QObject *parent = nullptr);
    ~Tar() override;

    // Directory tree (tar.cpp)
    int countFiles(const QString &directory);
    bool copyDirectory(const QString &source, const QString &destination, int total,
                       int *done = nullptr);
    bool copyFile(const QString &source, const QString &destination);

    // Archive (tararchive.cpp)
    int countArchiveEntries(const QString &archive);
    bool extract(const QString &archive, const QString &destination, int total);

    QString lastError() const { return m_lastError; }
    bool isCancelRequested() const { return cancelRequested.load(); }

public slots:
    void cancel();

signals:
    void cancelled();
    void error(const QString &error);
    void status(const QString &text);
    void progress(int progress);

private slots:
    void noteError(const QString &error);

private:
    QString m_lastError;
    std::atomic<bool> cancelRequested;
};

#endif
