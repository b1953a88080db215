#include "installer/desktop/launchicons.h"
#include "installer/engine/installer.h"
#include "installer/installationsource.h"
#include "installer/messagehandler.h"
#include "installer/productidentity.h"
#include "installer/wizard/installerwizard.h"
#include "installer/wizard/messageboxprompt.h"

#include <QApplication>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>

namespace {

void printLine(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void tellMissingFiles(const QString &dir)
{
    MessageBoxPrompt prompt;
    prompt.tell(nullptr, UserPrompt::Critical,
                QCoreApplication::translate("QApplication", "Missing Installation Files"),
                QCoreApplication::translate("QApplication",
                                            "%1 installation files not found in \"%2\".")
                    .arg(QLatin1String(productIdentity.productName), dir));
}

// A name that is no valid text, shown without the terminal guessing: every
// byte outside printable ASCII as \xNN.
QByteArray escapedBytes(const QByteArray &bytes)
{
    QByteArray escaped;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f)
            escaped += c;
        else
            escaped += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
    }
    return escaped;
}

// The xcb platform reads "-icon" as its own window-icon option and would take
// it, and the argument after it, out of the list before the installer sees
// them. Take the installer's option out first.
bool takeIconOption(int &argc, char *argv[])
{
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-icon") == 0)
            found = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return found;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // The display and platform plug-in failures are reported while the
    // application object is built, so the handler must be in place first.
    qInstallMessageHandler(installerMessageHandler);

    const bool iconOnly = takeIconOption(argc, argv);
    QApplication app(argc, argv);

    QString installDirArgument;
    QByteArray installDirBytes;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(QLatin1Char('-'))) {
            printLine(QCoreApplication::translate("QApplication", "Unknown option \"%1\".\n")
                          .arg(argument));
            printLine(QCoreApplication::translate("QApplication",
                                                  "Usage %1 [options] [install-directory]\n"
                                                  "Install to (optional) install directory.\n"
                                                  "Options recognized:\n"
                                                  "\t-icon\tOnly install launch icons to menus.")
                          .arg(QString::fromLocal8Bit(argv[0])));
            return 1;
        } else {
            // An empty argument still names a destination: the empty one.
            installDirArgument = argument.isNull() ? QString(QLatin1String("")) : argument;
            installDirBytes = argv[i];
        }
    }
    // A name that does not survive decoding would be installed to under
    // another name; refuse it before anything is shown.
    if (!installDirArgument.isNull() && QFile::encodeName(installDirArgument) != installDirBytes) {
        printLine(QCoreApplication::translate("QApplication",
                                              "Install directory \"%1\" is not valid in the "
                                              "character encoding of this system.")
                      .arg(QLatin1String(escapedBytes(installDirBytes))));
        return 1;
    }

    const QString sourceDir = findInstallationSource();
    if (sourceDir.isNull()) {
        tellMissingFiles(QCoreApplication::applicationDirPath());
        return 1;
    }

    if (iconOnly) {
        MessageBoxPrompt prompt;
        Installer installer(nullptr, &prompt);
        installLaunchIcons(installer, sourceDir);
        return 0;
    }

    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    InstallerWizard wizard;
    if (!wizard.loadLicence(sourceDir)) {
        tellMissingFiles(sourceDir);
        return 1;
    }
    if (!installDirArgument.isNull())
        wizard.setDestination(installDirArgument);
    wizard.show();
    return app.exec();
}
