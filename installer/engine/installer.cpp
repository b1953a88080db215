#include "installer/engine/installer.h"

#include "installer/engine/installthread.h"
#include "installer/engine/userprompt.h"

#include <cstdio>

namespace {

// Used when a front end supplies no prompt: never reuses a destination
// without being told to, and does not swallow messages.
class StandardErrorPrompt : public UserPrompt
{
public:
    bool askYesNo(QObject *, const QString &, const QString &) override { return false; }
    void tell(QObject *, Severity, const QString &title, const QString &text) override
    {
        std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
    }
};

UserPrompt *standardErrorPrompt()
{
    static StandardErrorPrompt prompt;
    return &prompt;
}

} // namespace

Installer::Installer(QObject *parent, UserPrompt *prompt)
    : QObject(parent)
    , m_installMode(1)
    , m_prompt(prompt ? prompt : standardErrorPrompt())
{
}

Installer::~Installer() = default;

void Installer::install(const QString &, const QString &)
{
}

QStringList Installer::missingLibraries() const
{
    return QStringList();
}

void Installer::cancel()
{
    thread.reset();
}
