#include "textinstall/progressprinter.h"

#include "textinstall/console.h"

namespace {

// More than this many status lines before the first percentage would be one
// line per directory of an installation without files: not worth a log.
const int maximumLinesBeforeProgress = 8;
// Status texts change once per file; redrawing each would only flicker.
const qint64 redrawIntervalMs = 100;

QString percentText(int percent)
{
    return QStringLiteral("%1%").arg(qBound(0, percent, 100), 3);
}

} // namespace

ProgressPrinter::ProgressPrinter(Console &console, QObject *parent)
    : QObject(parent)
    , m_console(console)
{
}

QString ProgressPrinter::terminalLine(int percent, const QString &status, int width)
{
    // The last column stays free, so that no terminal wraps the line.
    const int columns = width - 1;
    const QString text = Console::printable(status);
    if (percent < 0)
        return Console::cut(text, columns);

    QString line;
    if (columns >= 40) {
        const int barWidth = qMin(30, columns / 4);
        const int filled = qBound(0, percent, 100) * barWidth / 100;
        line = QLatin1Char('[') + QString(filled, QLatin1Char('#'))
            + QString(barWidth - filled, QLatin1Char('-')) + QStringLiteral("] ");
    }
    line += percentText(percent);
    if (!text.isEmpty())
        line += QLatin1Char(' ') + text;
    return Console::cut(line, columns);
}

QString ProgressPrinter::logLine(int percent, const QString &status)
{
    const QString text = Console::printable(status);
    if (percent < 0)
        return text;
    return text.isEmpty() ? percentText(percent) : percentText(percent) + QLatin1Char(' ') + text;
}

void ProgressPrinter::setProgress(int percent)
{
    const bool changed = percent != m_percent;
    m_percent = percent;
    if (m_console.outputIsTerminal()) {
        if (changed)
            draw();
        return;
    }
    if (percent != m_loggedPercent) {
        m_loggedPercent = percent;
        m_console.print(logLine(percent, m_status));
    }
}

void ProgressPrinter::setStatus(const QString &text)
{
    m_status = text;
    if (m_console.outputIsTerminal()) {
        if (!m_sinceDraw.isValid() || m_sinceDraw.elapsed() >= redrawIntervalMs)
            draw();
        else
            m_undrawn = true;
        return;
    }
    if (m_percent < 0 && m_linesBeforeProgress < maximumLinesBeforeProgress) {
        ++m_linesBeforeProgress;
        m_console.print(logLine(-1, text));
    }
}

void ProgressPrinter::showStep(const QString &text)
{
    m_status = text;
    if (m_console.outputIsTerminal())
        draw();
    else
        m_console.print(logLine(-1, text));
}

void ProgressPrinter::finish()
{
    if (!m_console.outputIsTerminal() || !m_console.hasStatusLine())
        return;
    if (m_undrawn)
        draw();
    m_console.endStatusLine();
}

void ProgressPrinter::draw()
{
    m_undrawn = false;
    m_sinceDraw.start();
    m_console.setStatusLine(terminalLine(m_percent, m_status, m_console.width()));
}
