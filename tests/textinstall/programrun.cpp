#include "programrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <vector>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<QByteArray> encoded(const QStringList &list)
{
    std::vector<QByteArray> result;
    for (const QString &item : list)
        result.push_back(QFile::encodeName(item));
    return result;
}

std::vector<char *> pointers(std::vector<QByteArray> &items)
{
    std::vector<char *> result;
    for (QByteArray &item : items)
        result.push_back(item.data());
    result.push_back(nullptr);
    return result;
}

} // namespace

QString textInstallProgram()
{
    return QStringLiteral(ZARVO_BINARY_DIR "/bin/textinstall");
}

ProgramRun::ProgramRun(Mode mode, const QString &workingDirectory, const QStringList &arguments,
                       const QProcessEnvironment &environment)
    : m_mode(mode)
    , m_workingDirectory(workingDirectory)
    , m_arguments(arguments)
    , m_environment(environment)
{
}

ProgramRun::~ProgramRun()
{
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
    for (int fd : {m_terminalFd, m_inputFd, m_outputFd, m_errorFd}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool ProgramRun::start()
{
    // Everything the child needs is prepared before the fork: after it, only
    // async-signal-safe calls are allowed in a threaded process.
    std::vector<QByteArray> argumentBytes = encoded(QStringList(m_program.isEmpty() ? textInstallProgram() : m_program) + m_arguments);
    std::vector<QByteArray> environmentBytes = encoded(m_environment.toStringList());
    std::vector<char *> argv = pointers(argumentBytes);
    std::vector<char *> envp = pointers(environmentBytes);
    const QByteArray directory = QFile::encodeName(m_workingDirectory);
    const QByteArray outputFile = QFile::encodeName(m_outputFile);

    if (m_mode == Terminal) {
        struct winsize size = {};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(m_columns);
        m_pid = ::forkpty(&m_terminalFd, nullptr, nullptr, &size);
        if (m_pid < 0)
            return false;
        if (m_pid == 0) {
            if (!outputFile.isEmpty()) {
                const int fd = ::open(outputFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0)
                    ::_exit(126);
                ::close(fd);
            }
            if (::chdir(directory.constData()) == 0)
                ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        return true;
    }

    int input[2], output[2], error[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0
        || ::pipe2(error, O_CLOEXEC) != 0)
        return false;
    m_pid = ::fork();
    if (m_pid < 0)
        return false;
    if (m_pid == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        ::dup2(error[1], STDERR_FILENO);
        if (::chdir(directory.constData()) == 0)
            ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    ::close(error[1]);
    m_inputFd = input[1];
    m_outputFd = output[0];
    m_errorFd = error[0];
    return true;
}

bool ProgramRun::readSome(int timeoutMs)
{
    struct pollfd fds[2] = {};
    int count = 0;
    for (int fd : m_mode == Terminal ? std::vector<int>{m_terminalFd}
                                     : std::vector<int>{m_outputFd, m_errorFd}) {
        if (fd >= 0) {
            fds[count].fd = fd;
            fds[count].events = POLLIN;
            ++count;
        }
    }
    if (count == 0)
        return false;
    const int ready = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    if (ready <= 0)
        return false;
    bool gotData = false;
    for (int i = 0; i < count; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buffer[65536];
        const ssize_t read = ::read(fds[i].fd, buffer, sizeof buffer);
        if (read > 0) {
            QByteArray &target = fds[i].fd == m_errorFd ? m_error : m_output;
            target.append(buffer, static_cast<int>(read));
            gotData = true;
            continue;
        }
        if (read < 0 && errno == EINTR)
            continue;
        // End of output (a pseudo-terminal reports EIO once the child is gone).
        int &fd = fds[i].fd == m_terminalFd ? m_terminalFd
                  : fds[i].fd == m_outputFd ? m_outputFd
                                            : m_errorFd;
        ::close(fd);
        fd = -1;
    }
    return gotData;
}

bool ProgramRun::waitForOutput(const QByteArray &text, int timeoutMs, int from)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (m_output.indexOf(text, from) >= 0 || m_error.indexOf(text, from) >= 0)
            return true;
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0)
            return false;
        if (!readSome(static_cast<int>(left)) && m_terminalFd < 0 && m_outputFd < 0
            && m_errorFd < 0)
            return false;
    }
}

void ProgramRun::send(const QByteArray &bytes)
{
    const int fd = m_mode == Terminal ? m_terminalFd : m_inputFd;
    if (fd >= 0) {
        ssize_t written = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
        (void)written;
    }
}

void ProgramRun::closeInput()
{
    if (m_inputFd >= 0) {
        ::close(m_inputFd);
        m_inputFd = -1;
    }
}

bool ProgramRun::signal(int signalNumber)
{
    return m_pid > 0 && !m_reaped && ::kill(m_pid, signalNumber) == 0;
}

bool ProgramRun::finish(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (m_terminalFd >= 0 || m_outputFd >= 0 || m_errorFd >= 0) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0)
            break;
        readSome(static_cast<int>(qMin<qint64>(left, 200)));
        reap(false);
        // A pseudo-terminal may stay open in a grandchild; the child's end is enough.
        if (m_reaped && m_mode == Terminal) {
            while (m_terminalFd >= 0 && readSome(50)) {
            }
            break;
        }
    }
    while (!m_reaped && timer.elapsed() < timeoutMs) {
        reap(false);
        if (!m_reaped)
            ::usleep(10000);
    }
    if (!m_reaped) {
        ::kill(m_pid, SIGKILL);
        reap(true);
        m_exitStatus = -1;
        return false;
    }
    return true;
}

void ProgramRun::reap(bool block)
{
    if (m_reaped || m_pid <= 0)
        return;
    int status = 0;
    const pid_t result = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (result != m_pid)
        return;
    m_reaped = true;
    if (WIFEXITED(status))
        m_exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        m_exitStatus = 128 + WTERMSIG(status);
}
