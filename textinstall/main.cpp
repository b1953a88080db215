#include "installer/installationsource.h"
#include "installer/productidentity.h"
#include "installer/site/sitefiles.h"
#include "textinstall/administrationcommands.h"
#include "textinstall/commandline.h"
#include "textinstall/console.h"
#include "textinstall/destinationchoice.h"
#include "textinstall/licenceagreement.h"
#include "textinstall/signalwatcher.h"
#include "textinstall/terminalprompt.h"
#include "textinstall/textinstallation.h"
#include "util/treepermissions.h"

#include <QCoreApplication>

#include <unistd.h>

namespace {

QString filesNotFound(const QString &directory)
{
    return QCoreApplication::translate("QApplication", "%1 installation files not found in \"%2\".")
        .arg(QLatin1String(productIdentity.productName), Console::printable(directory));
}

int interrupted(Console &console)
{
    console.printError(
        QCoreApplication::translate("InstallerWizard", "The installation was cancelled."));
    return InstallInterrupted;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    const CommandLine commandLine(app.arguments());
    Console plain;
    switch (commandLine.outcome()) {
    case CommandLine::ShowHelp:
        plain.print(commandLine.usage());
        return InstallSucceeded;
    case CommandLine::Invalid:
        plain.printError(commandLine.problem());
        plain.printError(commandLine.synopsis());
        plain.printError(QCoreApplication::translate("textinstall", "\"%1 --help\" describes every option.")
                             .arg(app.arguments().value(0)));
        return InstallUsageError;
    case CommandLine::Run:
        break;
    }
    switch (commandLine.action()) {
    case CommandLine::Install:
        break;
    case CommandLine::ShowVersion:
        return showVersions(plain);
    case CommandLine::Uninstall:
    case CommandLine::Verify:
        return administerInstallation(commandLine);
    case CommandLine::ShowInfo:
    case CommandLine::List:
    case CommandLine::Check: {
        const QString sourceDir = findInstallationSource();
        if (sourceDir.isNull()) {
            plain.printError(filesNotFound(QCoreApplication::applicationDirPath()));
            return InstallFailed;
        }
        return inspectInstallationFiles(plain, commandLine.action(), sourceDir);
    }
    }

    SignalWatcher watcher;
    Console console(watcher.isValid() ? &watcher : nullptr);

    if (commandLine.allUsers() && ::getuid() != 0) {
        console.printError(QCoreApplication::translate(
            "textinstall", "Installing for all users (--all-users) must be done as root."));
        return InstallFailed;
    }

    // Refused before anything is asked, and before the files are in place.
    gid_t group = 0;
    QString problem;
    if (!commandLine.group().isNull()
        && !TreePermissions::lookUpGroup(commandLine.group(), &group, &problem)) {
        console.printError(Console::printable(problem));
        return InstallFailed;
    }
    if (!commandLine.moduleTree().isNull())
        problem = SiteFiles::moduleTreeProblem(commandLine.moduleTree());
    if (!problem.isEmpty()) {
        console.printError(Console::printable(problem));
        return InstallFailed;
    }

    const QString sourceDir = findInstallationSource();
    if (sourceDir.isNull()) {
        console.printError(filesNotFound(QCoreApplication::applicationDirPath()));
        return InstallFailed;
    }

    const LicenceAgreement licence(sourceDir);
    if (!licence.filesPresent()) {
        console.printError(filesNotFound(sourceDir));
        return InstallFailed;
    }
    switch (licence.obtain(console, &watcher, commandLine.acceptLicence())) {
    case LicenceAgreement::Accepted:
        break;
    case LicenceAgreement::Refused:
        return InstallFailed;
    case LicenceAgreement::Interrupted:
        return interrupted(console);
    }

    QString destination;
    switch (DestinationChoice::choose(console, commandLine.installDirectory(), &destination)) {
    case DestinationChoice::Chosen:
        break;
    case DestinationChoice::Refused:
        return InstallFailed;
    case DestinationChoice::Interrupted:
        return interrupted(console);
    }
    // A signal that came while nothing was listening still stops the installation.
    if (watcher.take() != 0)
        return interrupted(console);

    TerminalPrompt prompt(console, commandLine.assumeYes());
    TextInstallation installation(console, prompt, &watcher);
    installation.setInstallMode(commandLine.allUsers() ? 0 : 1);
    if (!commandLine.group().isNull())
        installation.setGroup(group, commandLine.group());
    installation.setModuleTree(commandLine.moduleTree());
    PostInstallChoices choices;
    choices.desktop = !commandLine.noDesktop();
    choices.postInstallScript = !commandLine.noPostInstall();
    installation.setPostInstallChoices(choices);
    installation.setSpaceCheck(!commandLine.noSpaceCheck());
    return installation.run(sourceDir, destination);
}
