#include "textinstall/commandline.h"

#include "installer/productidentity.h"

#include <QCommandLineParser>
#include <QtAlgorithms>

namespace {

constexpr unsigned only(CommandLine::Action action)
{
    return 1u << action;
}

// An option, the value it takes (if any), and the actions it goes with.
struct Option
{
    const char *name;
    const char *valueName;
    unsigned actions;
};

const Option switches[] = {
    {"accept-licence", nullptr, only(CommandLine::Install)},
    {"yes", nullptr, only(CommandLine::Install) | only(CommandLine::Uninstall)},
    {"all-users", nullptr, only(CommandLine::Install)},
    {"group", "NAME", only(CommandLine::Install)},
    {"modulefiles", "DIR", only(CommandLine::Install)},
    {"no-desktop", nullptr, only(CommandLine::Install)},
    {"no-post-install", nullptr, only(CommandLine::Install)},
    {"no-space-check", nullptr, only(CommandLine::Install)},
    {"purge", nullptr, only(CommandLine::Uninstall)},
    {"added", nullptr, only(CommandLine::Verify)},
};

// Each in the order of CommandLine::Action, from ShowVersion on.
const Option actions[] = {
    {"version", nullptr, only(CommandLine::ShowVersion)},
    {"info", nullptr, only(CommandLine::ShowInfo)},
    {"list", nullptr, only(CommandLine::List)},
    {"check", nullptr, only(CommandLine::Check)},
    {"uninstall", "DIR", only(CommandLine::Uninstall)},
    {"verify", "DIR", only(CommandLine::Verify)},
};

QCommandLineOption parserOption(const Option &option)
{
    const QString name = QLatin1String(option.name);
    return option.valueName ? QCommandLineOption(name, QString(), QLatin1String(option.valueName))
                            : QCommandLineOption(name);
}

QString actionName(CommandLine::Action action)
{
    return QLatin1String(actions[action - CommandLine::ShowVersion].name);
}

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
    : m_program(arguments.value(0, QStringLiteral("textinstall")))
{
    if (!read(arguments))
        m_outcome = Invalid;
}

bool CommandLine::refuse(const QString &problem)
{
    m_problem = problem;
    return false;
}

bool CommandLine::read(const QStringList &arguments)
{
    QCommandLineParser parser;
    // "-icon" is the graphical installer's option, not "-i -c -o -n".
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption(QStringLiteral("help")));
    for (const Option &option : switches)
        parser.addOption(parserOption(option));
    for (const Option &option : actions)
        parser.addOption(parserOption(option));

    const int optionsEnd = arguments.indexOf(QStringLiteral("--"));
    const QStringList options = arguments.mid(1, optionsEnd < 0 ? -1 : optionsEnd - 1);
    // The parser would take a lone dash for a directory.
    if (options.contains(QStringLiteral("-")))
        return refuse(tr("Unknown option \"%1\".").arg(QStringLiteral("-")));
    if (!parser.parse(arguments)) {
        // Named as typed, with its dashes.
        const QStringList unknown = parser.unknownOptionNames();
        for (const QString &argument : options) {
            QString name = argument.section(QLatin1Char('='), 0, 0);
            name.remove(0, name.startsWith(QLatin1String("--")) ? 2 : 1);
            if (!unknown.isEmpty() && name == unknown.first())
                return refuse(tr("Unknown option \"%1\".").arg(argument));
        }
        if (!options.isEmpty() && options.last().startsWith(QLatin1Char('-'))
            && !options.last().contains(QLatin1Char('=')))
            return refuse(tr("The option \"%1\" needs a value.").arg(options.last()));
        return refuse(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        m_outcome = ShowHelp;
        return true;
    }

    for (const Option &option : actions) {
        const QString name = QLatin1String(option.name);
        if (!parser.isSet(name))
            continue;
        if (m_action != Install) {
            return refuse(tr("The options \"--%1\" and \"--%2\" cannot be used together.")
                              .arg(actionName(m_action), name));
        }
        m_action = Action(qCountTrailingZeroBits(option.actions));
        if (option.valueName)
            m_installation = parser.value(name);
    }
    for (const Option &option : switches) {
        const QString name = QLatin1String(option.name);
        if (!parser.isSet(name))
            continue;
        if (!(option.actions & only(m_action))) {
            if (m_action == Install) {
                return refuse(tr("The option \"--%1\" goes with \"--%2\".")
                                  .arg(name, actionName(Action(qCountTrailingZeroBits(option.actions)))));
            }
            return refuse(tr("The option \"--%1\" does not go with \"--%2\".")
                              .arg(name, actionName(m_action)));
        }
        m_flags << name;
    }
    // A value given as "--group=" is empty, not missing.
    if (parser.isSet(QStringLiteral("group")))
        m_group = parser.value(QStringLiteral("group")) + QLatin1String("");
    if (parser.isSet(QStringLiteral("modulefiles")))
        m_moduleTree = parser.value(QStringLiteral("modulefiles")) + QLatin1String("");

    const QStringList directories = parser.positionalArguments();
    if (!directories.isEmpty()) {
        if (m_action != Install)
            return refuse(tr("\"--%1\" takes no install directory.").arg(actionName(m_action)));
        // As in the graphical installer, a later directory replaces an earlier one.
        m_installDirectory = directories.last() + QLatin1String("");
    }
    return true;
}

QString CommandLine::synopsis() const
{
    return tr("Usage: %1 [options] [install-directory]\n"
              "       %1 --uninstall DIR [--yes] [--purge]\n"
              "       %1 --verify DIR [--added]\n"
              "       %1 --version | --info | --list | --check")
        .arg(m_program);
}

QString CommandLine::usage() const
{
    return synopsis() + QLatin1Char('\n')
        + tr("Installs %1 from a terminal or a script, without a display, and\n"
              "administers its installations.\n"
              "\n"
              "Installing:\n"
              "  --accept-licence   accept the licence agreement without showing it\n"
              "  --yes              install into an existing destination directory\n"
              "                     without asking\n"
              "  --all-users        register the menu entry and icons for all users\n"
              "                     (must be root); everyone may read and run it,\n"
              "                     whatever the umask\n"
              "  --group NAME       give the installation to the group NAME: its\n"
              "                     members may read and run it, others not\n"
              "  --modulefiles DIR  place the modulefile in the module tree DIR too,\n"
              "                     below DIR/corvane-zarvo\n"
              "  --no-desktop       register no icons, menu entry or file association\n"
              "  --no-post-install  do not run the installation's post-install script\n"
              "  --no-space-check   do not check the free space before installing\n"
              "                     (for file systems that misreport it)\n"
              "  --                 what follows is the install directory, even when\n"
              "                     it starts with a dash\n"
              "Without an install directory, the default is offered on a terminal\n"
              "and used as it is otherwise.\n"
              "\n"
              "Administering an installation (also done by the program \"uninstall\"\n"
              "inside it):\n"
              "  --uninstall DIR    remove the installation in DIR: every file it wrote\n"
              "                     that is unchanged, the directories it made once\n"
              "                     empty, its desktop registrations; changed and added\n"
              "                     files are kept and listed. Asks on a terminal\n"
              "  --yes              remove without asking\n"
              "  --purge            remove changed and added files too\n"
              "  --verify DIR       compare the installation in DIR with its record:\n"
              "                     one line per difference\n"
              "  --added            list files added since the installation too\n"
              "\n"
              "The installation files this program lies in:\n"
              "  --version          show the installer's and the product's version\n"
              "  --info             show what the installation files hold\n"
              "  --list             list every entry, as tar -t does\n"
              "  --check            check that they are complete and undamaged,\n"
              "                     reading everything once and writing nothing\n"
              "  --help             show this text\n"
              "\n"
              "Exit status: 0 done; 1 failed or refused (--check: damaged; --verify:\n"
              "the installation differs from its record); 2 bad command line;\n"
              "3 installed, but the desktop integration or the post-install script\n"
              "reported a problem; 130 interrupted.")
              .arg(QLatin1String(productIdentity.productName));
}
