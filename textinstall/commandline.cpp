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
            } else if (argument == QLatin1String("--no-space-check")) {
                m_noSpaceCheck = true;
            } else if (takeValue(QStringLiteral("--group"), arguments, &i, &m_group)
                       || takeValue(QStringLiteral("--modulefiles"), arguments, &i,
                                    &m_moduleTree)) {
                if (m_outcome == Invalid)
                    return;
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

bool CommandLine::takeValue(const QString &name, const QStringList &arguments, int *i,
                            QString *value)
{
    const QString &argument = arguments.at(*i);
    if (argument.startsWith(name + QLatin1Char('='))) {
        *value = argument.mid(name.size() + 1);
        return true;
    }
    if (argument != name)
        return false;
    if (*i + 1 >= arguments.size()) {
        m_outcome = Invalid;
        m_problem = tr("The option \"%1\" needs a value.").arg(name);
        return true;
    }
    *value = arguments.at(++*i);
    return true;
}

QString CommandLine::usage() const
{
    return tr("Usage: %1 [--accept-licence] [--yes] [--all-users] [--group NAME]\n"
              "       [--modulefiles DIR] [--no-space-check] [install-directory]\n"
              "Installs %2 from a terminal or a script, without a display.\n"
              "\n"
              "  --accept-licence  accept the licence agreement without showing it\n"
              "  --yes             install into an existing destination directory\n"
              "                    without asking\n"
              "  --all-users       register the menu entry and icons for all users\n"
              "                    (must be root); everyone may read and run it,\n"
              "                    whatever the umask\n"
              "  --group NAME      give the installation to the group NAME: its\n"
              "                    members may read and run it, others not\n"
              "  --modulefiles DIR place the modulefile in the module tree DIR too,\n"
              "                    below DIR/corvane-zarvo\n"
              "  --no-space-check  do not check the free space before installing\n"
              "                    (for file systems that misreport it)\n"
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
