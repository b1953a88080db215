#include "textinstall/console.h"

#include "textinstall/signalwatcher.h"

#include <QVector>

#include <cerrno>
#include <cwchar>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        left -= written;
    }
}

int codePointColumns(uint codePoint)
{
    const int width = ::wcwidth(static_cast<wchar_t>(codePoint));
    return width < 0 ? 1 : width;
}

} // namespace

Console::Console(SignalWatcher *watcher)
    : m_watcher(watcher)
    , m_inputIsTerminal(::isatty(STDIN_FILENO) == 1)
    , m_outputIsTerminal(::isatty(STDOUT_FILENO) == 1)
    , m_readerFd(!m_outputIsTerminal && ::isatty(STDERR_FILENO) == 1 ? STDERR_FILENO
                                                                      : STDOUT_FILENO)
{
}

int Console::width() const
{
    struct winsize size = {};
    if (m_outputIsTerminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : 80;
}

void Console::print(const QString &text)
{
    clearStatusLine();
    writeOut(text.toLocal8Bit() + '\n');
    redrawStatusLine();
}

void Console::printForReader(const QString &text)
{
    clearStatusLine();
    writeForReader(text.toLocal8Bit() + '\n');
    redrawStatusLine();
}

void Console::printError(const QString &text)
{
    clearStatusLine();
    writeAll(STDERR_FILENO, text.toLocal8Bit() + '\n');
    redrawStatusLine();
}

void Console::setStatusLine(const QString &text)
{
    if (!m_outputIsTerminal) {
        print(text);
        return;
    }
    const int oldColumns = m_statusLineShown ? columns(m_statusLine) : 0;
    const int newColumns = columns(text);
    QByteArray bytes = '\r' + text.toLocal8Bit();
    if (newColumns < oldColumns)
        bytes += QByteArray(oldColumns - newColumns, ' ');
    m_statusLine = text;
    m_statusLineShown = true;
    writeOut(bytes);
}

void Console::endStatusLine()
{
    if (!m_statusLineShown)
        return;
    m_statusLineShown = false;
    m_statusLine.clear();
    writeOut(QByteArrayLiteral("\n"));
}

Console::ReadResult Console::ask(const QString &question, QString *answer)
{
    endStatusLine();
    writeForReader(question.toLocal8Bit());
    for (;;) {
        const int end = m_pendingInput.indexOf('\n');
        if (end >= 0) {
            QByteArray line = m_pendingInput.left(end);
            m_pendingInput.remove(0, end + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            *answer = QString::fromLocal8Bit(line);
            return Line;
        }

        struct pollfd fds[2] = {};
        fds[0].fd = STDIN_FILENO;
        fds[0].events = POLLIN;
        fds[1].fd = m_watcher ? m_watcher->fd() : -1;
        fds[1].events = POLLIN;
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return EndOfInput;
        }
        if ((fds[1].revents & POLLIN) && m_watcher->take() != 0) {
            writeForReader(QByteArrayLiteral("\n"));
            return Interrupted;
        }
        if (fds[0].revents & POLLNVAL)
            return EndOfInput;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[512];
            const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                writeForReader(QByteArrayLiteral("\n"));
                if (m_pendingInput.isEmpty())
                    return EndOfInput;
                *answer = QString::fromLocal8Bit(m_pendingInput);
                m_pendingInput.clear();
                return Line;
            }
            m_pendingInput.append(buffer, static_cast<int>(count));
        }
    }
}

QString Console::printable(const QString &text, bool keepLayout)
{
    QString result = text;
    for (QChar &c : result) {
        const ushort code = c.unicode();
        if (keepLayout && (code == '\n' || code == '\t'))
            continue;
        if (keepLayout && code == '\f')
            c = QLatin1Char('\n');
        else if (code == '\t')
            c = QLatin1Char(' ');
        else if (code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0))
            c = QLatin1Char('?');
    }
    return result;
}

int Console::columns(const QString &text)
{
    int total = 0;
    for (uint codePoint : text.toUcs4())
        total += codePointColumns(codePoint);
    return total;
}

QString Console::cut(const QString &text, int columns)
{
    const QVector<uint> codePoints = text.toUcs4();
    int used = 0;
    int kept = 0;
    for (uint codePoint : codePoints) {
        const int width = codePointColumns(codePoint);
        if (used + width > columns)
            break;
        used += width;
        ++kept;
    }
    if (kept == codePoints.size())
        return text;
    return QString::fromUcs4(codePoints.constData(), kept);
}

void Console::writeOut(const QByteArray &bytes)
{
    writeAll(STDOUT_FILENO, bytes);
}

void Console::writeForReader(const QByteArray &bytes)
{
    writeAll(m_readerFd, bytes);
}

void Console::clearStatusLine()
{
    if (!m_statusLineShown)
        return;
    writeOut('\r' + QByteArray(columns(m_statusLine), ' ') + '\r');
}

void Console::redrawStatusLine()
{
    if (m_statusLineShown)
        writeOut('\r' + m_statusLine.toLocal8Bit());
}
