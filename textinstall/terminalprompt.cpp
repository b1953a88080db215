#include "textinstall/terminalprompt.h"

#include "textinstall/console.h"

TerminalPrompt::TerminalPrompt(Console &console, bool assumeYes)
    : m_console(console)
    , m_assumeYes(assumeYes)
{
}

bool TerminalPrompt::askYesNo(QObject *, const QString &, const QString &text)
{
    const QString question = Console::printable(text, true);
    if (m_assumeYes) {
        m_console.print(question + QLatin1Char(' ') + tr("Yes (--yes)."));
        return true;
    }
    if (!m_console.inputIsTerminal()) {
        m_console.printError(question);
        m_console.printError(tr("There is no terminal to ask on; give --yes to continue."));
        m_declined = true;
        return false;
    }
    for (;;) {
        QString answer;
        switch (m_console.ask(question + QStringLiteral(" [y/N] "), &answer)) {
        case Console::Interrupted:
            m_interrupted = true;
            return false;
        case Console::EndOfInput:
            m_declined = true;
            return false;
        case Console::Line:
            break;
        }
        const QString word = answer.trimmed().toLower();
        if (word == QLatin1String("y") || word == QLatin1String("yes"))
            return true;
        if (word.isEmpty() || word == QLatin1String("n") || word == QLatin1String("no")) {
            m_declined = true;
            return false;
        }
    }
}

void TerminalPrompt::tell(QObject *, Severity, const QString &title, const QString &text)
{
    m_console.printError(Console::printable(title) + QStringLiteral(": ")
                         + Console::printable(text, true));
}
