#include "installer/wizard/messageboxprompt.h"

bool MessageBoxPrompt::askYesNo(QObject *, const QString &, const QString &)
{
    return false;
}

void MessageBoxPrompt::tell(QObject *, Severity, const QString &, const QString &)
{
}
