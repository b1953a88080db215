#ifndef ZARVO_WIZARD_MESSAGEBOXPROMPT_H
#define ZARVO_WIZARD_MESSAGEBOXPROMPT_H

#include "installer/engine/userprompt.h"

// Modal message boxes, parented to the owner when it is a widget. Texts are
// shown as plain text: they carry paths, which may look like markup. A box
// never grows past the screen; a text too long for it scrolls.
class MessageBoxPrompt : public UserPrompt
{
public:
    bool askYesNo(QObject *owner, const QString &title, const QString &text) override;
    void tell(QObject *owner, Severity severity, const QString &title,
              const QString &text) override;
};

#endif
