#include "textinstall/signalwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t writeEnd = -1;
struct sigaction previousInt;
struct sigaction previousTerm;

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) {
        // A full pipe already holds a signal to act on; losing this one is harmless.
        ssize_t written = ::write(writeEnd, &byte, 1);
        (void)written;
    }
    errno = savedErrno;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readFd = fds[0];
    m_writeFd = fds[1];
    writeEnd = m_writeFd;

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &previousInt);
    ::sigaction(SIGTERM, &action, &previousTerm);

    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { take(); });
}

SignalWatcher::~SignalWatcher()
{
    if (m_readFd < 0)
        return;
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    writeEnd = -1;
    delete m_notifier;
    ::close(m_readFd);
    ::close(m_writeFd);
}

int SignalWatcher::take()
{
    if (m_readFd < 0)
        return 0;
    int last = 0;
    unsigned char buffer[16];
    for (;;) {
        const ssize_t count = ::read(m_readFd, buffer, sizeof buffer);
        if (count > 0) {
            last = buffer[count - 1];
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        break;
    }
    if (last != 0) {
        m_lastSignal = last;
        emit interrupted(last);
    }
    return last;
}
