#include "textinstall/commandline.h"

#include "installer/productidentity.h"

CommandLine::CommandLine(const QStringList &arguments)
    : m_program(arguments.value(0, QStringLiteral("textinstall")))
{
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (!optionsEnded && argument.startsWith(QLatin1Char('-'))) {
            if (argument == QLatin1String("--")) {
                optionsEnded = true;
            } else if (argument == QLatin1String("--accept-licence")) {
                m_acceptLicence = true;
            } else if (argument == QLatin1String("--yes")) {
                m_assumeYes = true;
            } else if (argument == QLatin1String("--all-users")) {
                m_allUsers = true;
            } else if (argument == QLatin1String("--help")) {
                if (m_outcome == Run)
                    m_outcome = ShowHelp;
            } else {
                m_outcome = Invalid;
                m_problem = tr("Unknown option \"%1\".").arg(argument);
                return;
            }
            continue;
        }
        // As in the graphical installer, a later directory replaces an earlier one.
        m_installDirectory = argument;
    }
}

QString CommandLine::usage() const
{
    return tr("Usage: %1 [--accept-licence] [--yes] [--all-users] [install-directory]\n"
              "Installs %2 from a terminal or a script, without a display.\n"
              "\n"
              "  --accept-licence  accept the licence agreement without showing it\n"
              "  --yes             install into an existing destination directory\n"
              "                    without asking\n"
              "  --all-users       register the menu entry and icons for all users\n"
              "                    (must be root)\n"
              "  --help            show this text\n"
              "  --                what follows is the install directory, even when\n"
              "                    it starts with a dash\n"
              "\n"
              "Without an install directory, the default is offered on a terminal\n"
              "and used as it is otherwise.\n"
              "\n"
              "Exit status: 0 installed, 1 error or refusal, 2 bad command line,\n"
              "3 installed, but the desktop integration or the post-install script\n"
              "reported a problem, 130 cancelled.")
        .arg(m_program, QLatin1String(productIdentity.productName));
}
