#include "installer/site/setuptexts.h"

#include "installer/productidentity.h"

#include <QStringList>

const char moduleName[] = "corvane-zarvo";
const char rootVariable[] = "CORVANE_ZARVO_ROOT";

namespace {

// A Tcl word that stands for text exactly, whatever characters it holds.
QString tclQuoted(const QString &text)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            quoted += QLatin1String("\\n");
        else if (QStringLiteral("\\\"$[]{}").contains(c))
            quoted += QLatin1Char('\\') + c;
        else
            quoted += c;
    }
    return quoted + QLatin1Char('"');
}

// Single quotes, in which both shell families take everything literally but
// the quote itself and, in a C shell, the history character even when sourced.
QString shellQuoted(const QString &text, bool cShell = false)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    if (cShell)
        quoted.replace(QLatin1Char('!'), QLatin1String("\\!"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString lines(const QStringList &list)
{
    return list.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString productAndVersion(const SetupInstallation &installation)
{
    return QLatin1String(productIdentity.productName) + QLatin1Char(' ') + installation.version;
}

QString moduleAndVersion(const SetupInstallation &installation)
{
    return QLatin1String(moduleName) + QLatin1Char('/') + installation.version;
}

// What both scripts say about themselves; `source` is the shell's command.
QStringList scriptHeader(const SetupInstallation &installation, const char *shells,
                         const char *source, const char *suffix)
{
    const QString man = installation.manualPages.isEmpty()
        ? QString()
        : QStringLiteral("\n# its manual pages on MANPATH");
    return {
        QStringLiteral("# %1: puts the installation's programs first on PATH%2,")
            .arg(productAndVersion(installation), man),
        QStringLiteral("# and sets %1 to it, as \"module load %2\" does.")
            .arg(QLatin1String(rootVariable), moduleAndVersion(installation)),
        QStringLiteral("# For %1: %2 <installation>/etc/profile.d/%3.%4")
            .arg(QLatin1String(shells), QLatin1String(source), QLatin1String(moduleName),
                 QLatin1String(suffix)),
        QStringLiteral("# or link it into /etc/profile.d to set up every login shell."),
        QStringLiteral("# While another installation of the suite is set up, it changes nothing."),
    };
}

} // namespace

QString moduleFileText(const SetupInstallation &installation)
{
    const QString product = productAndVersion(installation);
    const QString root = installation.root;
    QStringList text = {
        QStringLiteral("#%Module1.0"),
        QStringLiteral("##"),
        QStringLiteral("## %1: written by the %2 installer for one installation.")
            .arg(moduleAndVersion(installation), QLatin1String(productIdentity.productName)),
        QStringLiteral("## Lmod and Environment Modules both read it."),
        QStringLiteral("##"),
        QStringLiteral("proc ModulesHelp { } {"),
        QStringLiteral("    puts stderr %1")
            .arg(tclQuoted(product + QStringLiteral(", tools for Linux clusters."))),
        QStringLiteral("    puts stderr \"\""),
        QStringLiteral("    puts stderr \"Puts the suite's programs (pesk, lumo, ...) first on PATH%1\"")
            .arg(installation.manualPages.isEmpty() ? QString()
                                                    : QStringLiteral(", its manual pages on MANPATH,")),
        QStringLiteral("    puts stderr \"and sets %1 to the installation:\"")
            .arg(QLatin1String(rootVariable)),
        QStringLiteral("    puts stderr %1").arg(tclQuoted(QStringLiteral("    ") + root)),
        QStringLiteral("}"),
        QString(),
        QStringLiteral("module-whatis %1")
            .arg(tclQuoted(product + QStringLiteral(": tools for Linux clusters"))),
        QString(),
        QStringLiteral("# Two versions of the suite in one environment would mix their programs."),
        QStringLiteral("conflict %1").arg(QLatin1String(moduleName)),
        QString(),
        QStringLiteral("setenv %1 %2").arg(QLatin1String(rootVariable), tclQuoted(root)),
        QStringLiteral("prepend-path PATH %1").arg(tclQuoted(root + QStringLiteral("/bin"))),
    };
    if (!installation.manualPages.isEmpty())
        text << QStringLiteral("prepend-path MANPATH %1")
                    .arg(tclQuoted(root + QLatin1Char('/') + installation.manualPages));
    return lines(text);
}

QString shSetupText(const SetupInstallation &installation)
{
    const QString root = shellQuoted(installation.root);
    const QString variable = QLatin1String(rootVariable);
    QStringList text = scriptHeader(installation, "sh, bash, ksh and zsh", ".", "sh");
    text << QStringLiteral("if [ -n \"${%1:-}\" ] && [ \"$%1\" != %2 ]; then").arg(variable, root)
         << QStringLiteral("    printf '%s: %s is set up in this shell already; not setting up "
                           "%s\\n' %1 \"$%2\" %3 >&2")
                .arg(QLatin1String(moduleName), variable, root)
         << QStringLiteral("else")
         << QStringLiteral("    %1=%2").arg(variable, root)
         << QStringLiteral("    export %1").arg(variable);
    const auto prepend = [&](const QString &list, const QString &below) {
        const QString directory = QStringLiteral("$%1/%2").arg(variable, below);
        text << QStringLiteral("    case \":${%1:-}:\" in").arg(list)
             << QStringLiteral("        *:\"%1\":*) ;;").arg(directory)
             << QStringLiteral("        *) %1=\"%2${%1:+:$%1}\"; export %1 ;;").arg(list, directory)
             << QStringLiteral("    esac");
    };
    prepend(QStringLiteral("PATH"), QStringLiteral("bin"));
    if (!installation.manualPages.isEmpty())
        prepend(QStringLiteral("MANPATH"), installation.manualPages);
    text << QStringLiteral("fi");
    return lines(text);
}

QString cshSetupText(const SetupInstallation &installation)
{
    const QString variable = QLatin1String(rootVariable);
    // C shells evaluate every variable of an expression, set or not, so the
    // test for another installation takes two steps.
    QStringList text = scriptHeader(installation, "csh and tcsh", "source", "csh");
    text << QStringLiteral("set _corvane_zarvo_root = %1").arg(shellQuoted(installation.root, true))
         << QStringLiteral("set _corvane_zarvo_other = 0")
         << QStringLiteral("if ( $?%1 ) then").arg(variable)
         << QStringLiteral("    if ( \"$%1\" != \"$_corvane_zarvo_root\" ) set _corvane_zarvo_other = 1")
                .arg(variable)
         << QStringLiteral("endif")
         << QStringLiteral("if ( $_corvane_zarvo_other ) then")
         << QStringLiteral("    echo \"%1: $%2 is set up in this shell already; not setting up "
                           "$_corvane_zarvo_root\" >> /dev/stderr")
                .arg(QLatin1String(moduleName), variable)
         << QStringLiteral("else")
         << QStringLiteral("    setenv %1 \"$_corvane_zarvo_root\"").arg(variable);
    const auto prepend = [&](const QString &list, const QString &below) {
        const QString directory = QStringLiteral("${_corvane_zarvo_root}/%1").arg(below);
        text << QStringLiteral("    if ( ! $?%1 ) then").arg(list)
             << QStringLiteral("        setenv %1 \"%2\"").arg(list, directory)
             << QStringLiteral("    else if ( \":${%1}:\" !~ *:\"%2\":* ) then").arg(list, directory)
             << QStringLiteral("        setenv %1 \"%2:${%1}\"").arg(list, directory)
             << QStringLiteral("    endif");
    };
    prepend(QStringLiteral("PATH"), QStringLiteral("bin"));
    if (!installation.manualPages.isEmpty())
        prepend(QStringLiteral("MANPATH"), installation.manualPages);
    text << QStringLiteral("endif")
         << QStringLiteral("unset _corvane_zarvo_root _corvane_zarvo_other");
    return lines(text);
}
