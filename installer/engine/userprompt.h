#ifndef ZARVO_ENGINE_USERPROMPT_H
#define ZARVO_ENGINE_USERPROMPT_H

#include <QString>

class QObject;

// How the engine and the desktop integration talk to the user: modal boxes in
// the graphical installer, lines on a terminal in the text front end.
// `owner` is the object whose window a box belongs to (may be null).
class UserPrompt
{
public:
    enum Severity { Warning, Critical };

    virtual ~UserPrompt();

    // A Yes/No question; true only for Yes.
    virtual bool askYesNo(QObject *owner, const QString &title, const QString &text) = 0;
    // A message with a single OK button; returns when the user has seen it.
    virtual void tell(QObject *owner, Severity severity, const QString &title,
                      const QString &text) = 0;
};

#endif
