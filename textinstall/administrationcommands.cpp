#include "textinstall/administrationcommands.h"

#include "installer/administration/administration.h"
#include "installer/productidentity.h"
#include "textinstall/console.h"
#include "textinstall/licenceagreement.h"
#include "textinstall/sourcecontents.h"
#include "textinstall/textinstallation.h"

#include <QDir>
#include <QFile>
#include <QLocale>

namespace {

// The administration's texts, translated like every other text of the program.
class TranslatingIo : public Administration::Io
{
public:
    std::string translate(const Administration::Text &message) const override
    {
        const QString source = QCoreApplication::translate("Administration", message.source);
        return Administration::fill(source.toStdString(), message.values);
    }
};

QString tr(const char *text)
{
    return QCoreApplication::translate("textinstall", text);
}

QString productAndVersion()
{
    return QStringLiteral("%1 %2").arg(QLatin1String(productIdentity.productName),
                                        QLatin1String(productIdentity.version));
}

} // namespace

int showVersions(Console &console)
{
    console.print(tr("textinstall %1, the installer of %2").arg(QLatin1String(productIdentity.version),
                                                               productAndVersion()));
    return InstallSucceeded;
}

int inspectInstallationFiles(Console &console, CommandLine::Action action, const QString &sourceDir)
{
    SourceInspection source(sourceDir);
    TranslatingIo io;
    qint64 directories = 0;
    qint64 others = 0;
    qint64 bytes = 0;
    const bool walked = source.walk(
        [&](const SourceInspection::Entry &entry) {
            (entry.isDirectory ? directories : others) += 1;
            bytes += entry.size;
            if (action == CommandLine::List)
                io.print(Administration::printable(entry.name.toStdString()));
        },
        action == CommandLine::Check);
    if (!walked) {
        console.printError(Console::printable(source.error()));
        return InstallFailed;
    }
    const QString size = QLocale::c().formattedDataSize(bytes, 1);
    const QString where = Console::printable(QDir::toNativeSeparators(source.path()));
    if (action == CommandLine::Check) {
        // The installer needs these beside the payload, and asks for nothing else.
        if (!LicenceAgreement(sourceDir).filesPresent()) {
            console.printError(QCoreApplication::translate(
                                   "QApplication", "%1 installation files not found in \"%2\".")
                                   .arg(QLatin1String(productIdentity.productName),
                                        Console::printable(sourceDir)));
            return InstallFailed;
        }
        console.print(tr("The installation files \"%1\" are complete and undamaged: %2 entries, "
                         "%3 unpacked.")
                          .arg(where)
                          .arg(directories + others)
                          .arg(size));
    } else if (action == CommandLine::ShowInfo) {
        console.print(tr("Product: %1").arg(productAndVersion()));
        console.print(tr("Installer: textinstall %1").arg(QLatin1String(productIdentity.version)));
        console.print((source.isArchive() ? tr("Installation files: archive %1")
                                          : tr("Installation files: unpacked tree %1"))
                          .arg(where));
        console.print(tr("Entries: %1 (%2 directories, %3 files and links)")
                          .arg(directories + others)
                          .arg(directories)
                          .arg(others));
        console.print(tr("Size unpacked: %1 (%2 bytes)").arg(size).arg(bytes));
        console.print(tr("Default destination for root: %1")
                          .arg(QLatin1String(productIdentity.systemInstallPath)));
        console.print(tr("Default destination for other users: ~/%1")
                          .arg(QLatin1String(productIdentity.userInstallSubpath)));
    }
    return InstallSucceeded;
}

int administerInstallation(const CommandLine &commandLine)
{
    TranslatingIo io;
    const std::string directory = QFile::encodeName(commandLine.installation()).toStdString();
    if (commandLine.action() == CommandLine::Verify)
        return Administration::verify(io, directory, commandLine.showAdded());
    Administration::UninstallOptions options;
    options.assumeYes = commandLine.assumeYes();
    options.purge = commandLine.purge();
    return Administration::uninstall(io, directory, options);
}
