#ifndef ZARVO_TEXTINSTALL_TERMINALPROMPT_H
#define ZARVO_TEXTINSTALL_TERMINALPROMPT_H

#include "installer/engine/userprompt.h"

#include <QCoreApplication>

class Console;

// The engine's and the desktop integration's questions and messages on the
// terminal: messages on standard error, questions answered on the terminal,
// by --yes, or refused when there is no terminal to ask on.
class TerminalPrompt : public UserPrompt
{
    Q_DECLARE_TR_FUNCTIONS(TerminalPrompt)

public:
    TerminalPrompt(Console &console, bool assumeYes);

    bool askYesNo(QObject *owner, const QString &title, const QString &text) override;
    void tell(QObject *owner, Severity severity, const QString &title,
              const QString &text) override;

    // A question was answered No, or could not be asked.
    bool declined() const { return m_declined; }
    // A signal came while a question waited for its answer.
    bool interrupted() const { return m_interrupted; }

private:
    Console &m_console;
    bool m_assumeYes;
    bool m_declined = false;
    bool m_interrupted = false;
};

#endif
