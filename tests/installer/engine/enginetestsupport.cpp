#include "tests/installer/engine/enginetestsupport.h"

#include "installer/engine/installer.h"
#include "installer/engine/installthread.h"
#include "tests/support/testenvironment.h"

#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void SignalLog::watch(InstallThread *thread)
{
    connect(thread, &InstallThread::status, this,
            [this](const QString &text) { entries << QStringLiteral("status: ") + text; });
    connect(thread, &InstallThread::progress, this,
            [this](int value) { entries << QStringLiteral("progress: %1").arg(value); });
    connect(thread, &InstallThread::error, this,
            [this](const QString &text) { entries << QStringLiteral("error: ") + text; });
    connect(thread, &InstallThread::cancelled, this,
            [this] { entries << QStringLiteral("cancelled"); });
    connect(thread, &InstallThread::installerFinished, this,
            [this] { entries << QStringLiteral("finished"); });
}

void SignalLog::watch(Installer *installer)
{
    connect(installer, &Installer::status, this,
            [this](const QString &text) { entries << QStringLiteral("status: ") + text; });
    connect(installer, &Installer::progress, this,
            [this](int value) { entries << QStringLiteral("progress: %1").arg(value); });
    connect(installer, &Installer::error, this,
            [this](const QString &text) { entries << QStringLiteral("error: ") + text; });
    connect(installer, &Installer::cancelled, this,
            [this] { entries << QStringLiteral("cancelled"); });
    connect(installer, &Installer::finished, this,
            [this] { entries << QStringLiteral("finished"); });
}

QStringList SignalLog::withPrefix(const QString &prefix) const
{
    QStringList result;
    for (const QString &entry : entries) {
        if (entry.startsWith(prefix))
            result << entry.mid(prefix.size());
    }
    return result;
}

QStringList SignalLog::runStatuses() const
{
    QStringList result;
    for (const QString &text : withPrefix(QStringLiteral("status: "))) {
        if (text.startsWith(QLatin1String("Examining source directory"))
            || text.startsWith(QLatin1String("Creating destination directory"))
            || text == QLatin1String("Counting files") || text.startsWith(QLatin1String("Copying files")))
            result << text;
    }
    return result;
}

bool installFakeLdd(const QString &directory, const QString &release, const QString &log,
                    const QList<QPair<QString, QStringList>> &missing)
{
    QByteArray script = "#!/bin/sh\n"
                        "i=0\n"
                        "while [ ! -e '" + QFile::encodeName(release) + "' ] && [ $i -lt 1000 ]; do\n"
                        "    sleep 0.01; i=$((i + 1))\n"
                        "done\n"
                        "echo \"$1\" >> '" + QFile::encodeName(log) + "'\n"
                        "case \"$1\" in\n";
    for (const auto &program : missing) {
        script += "*" + QFile::encodeName(program.first) + ")\n";
        script += "    printf '\\tlinux-vdso.so.1 (0x00007ffd)\\n'\n";
        for (const QString &library : program.second)
            script += "    printf '\\t" + library.toUtf8() + " => not found\\n'\n";
        script += "    printf '\\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x00007f00)\\n'\n"
                  "    ;;\n";
    }
    script += "esac\n";
    if (!TestEnvironment::writeScript(directory + QStringLiteral("/ldd"), script))
        return false;
    qputenv("PATH", QFile::encodeName(directory) + ':' + qgetenv("PATH"));
    return true;
}

void deliverPostedReports()
{
    for (int hop = 0; hop < 3; ++hop)
        QCoreApplication::sendPostedEvents();
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

void FifoPeer::drainAfter(const QString &fifo, std::function<bool()> release)
{
    const QByteArray path = QFile::encodeName(fifo);
    m_thread = std::thread([this, path, release] {
        m_released = waitUntil(release, 10000);
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        char buffer[65536];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            m_drained += got;
        ::close(fd);
    });
}

void FifoPeer::feed(const QString &fifo, const QByteArray &data, int passes,
                    std::function<bool()> release)
{
    const QByteArray path = QFile::encodeName(fifo);
    m_thread = std::thread([this, path, data, passes, release] {
        for (int pass = 1; pass <= passes; ++pass) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
            if (fd < 0)
                return;
            const bool last = pass == passes;
            const qint64 split = last ? data.size() / 2 : data.size();
            // A reader that stops early makes the write fail; that is fine here.
            if (::write(fd, data.constData(), size_t(split)) == split && last) {
                m_released = waitUntil(release, 10000);
                const ssize_t rest =
                    ::write(fd, data.constData() + split, size_t(data.size() - split));
                Q_UNUSED(rest)
            }
            // The reader of this pass may go on reading until it sees the end,
            // so the next pass gets a pipe of its own, in place before that end.
            if (!last) {
                const QByteArray next = path + ".next";
                if (::mkfifo(next.constData(), 0600) != 0 || ::rename(next.constData(), path.constData()) != 0) {
                    ::close(fd);
                    return;
                }
            }
            ::close(fd);
        }
    });
}

void FifoPeer::touchAfter(const QString &file, std::function<bool()> release)
{
    m_thread = std::thread([this, file, release] {
        m_released = waitUntil(release, 10000);
        writeFile(file, QByteArray());
    });
}

bool FifoPeer::leaseUntil(const QString &file, std::function<bool()> release)
{
    // The break of a lease is announced by SIGIO, which would end the process.
    ::signal(SIGIO, SIG_IGN);
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_thread = std::thread([this, fd, release] {
        m_released = waitUntil(release, 10000);
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        ::close(fd);
    });
    return true;
}

void FifoPeer::join()
{
    if (m_thread.joinable())
        m_thread.join();
}
