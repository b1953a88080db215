#ifndef ZARVO_TEXTINSTALL_PAGER_H
#define ZARVO_TEXTINSTALL_PAGER_H

#include <QString>

class SignalWatcher;

// Shows a long text through the user's pager ($PAGER, split like a command
// line and started without a shell), fed on its standard input.
class Pager
{
public:
    enum Result { Shown, NotAvailable, Interrupted };

    // NotAvailable when PAGER is unset or empty or its program cannot be
    // started. Ctrl-C belongs to the pager while it runs; SIGTERM ends it.
    static Result show(const QString &text, SignalWatcher *watcher);
};

#endif
