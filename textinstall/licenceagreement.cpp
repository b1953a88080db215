#include "textinstall/licenceagreement.h"

#include "textinstall/console.h"
#include "textinstall/pager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

QString joined(const QString &directory, const QString &name)
{
    return QDir(directory).filePath(name);
}

bool readText(const QString &path, QString *text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    *text = stream.readAll();
    return true;
}

} // namespace

LicenceAgreement::LicenceAgreement(const QString &sourceDir)
{
    const QString terms = joined(sourceDir, QStringLiteral("license_terms"));
    m_licencePath = joined(terms, QStringLiteral("license_agreement.txt"));
    m_supplementaryPath = joined(terms, QStringLiteral("supplementary_terms.txt"));
}

bool LicenceAgreement::filesPresent() const
{
    return QFileInfo::exists(m_licencePath) && QFileInfo::exists(m_supplementaryPath);
}

QString LicenceAgreement::text() const
{
    QString licence;
    QString supplementary;
    if (!readText(m_licencePath, &licence) || !readText(m_supplementaryPath, &supplementary))
        return QString();
    return licence + QStringLiteral("\n\n") + supplementary;
}

LicenceAgreement::Result LicenceAgreement::obtain(Console &console, SignalWatcher *watcher,
                                                  bool acceptedBeforehand) const
{
    if (acceptedBeforehand)
        return Accepted;
    if (!console.inputIsTerminal()) {
        console.printError(tr("The licence agreement must be accepted with --accept-licence "
                              "when there is no terminal to ask on."));
        return Refused;
    }

    const QString shown = Console::printable(text(), true);
    // A pager writes to standard output, which must then be the terminal.
    const Pager::Result paged =
        console.outputIsTerminal() ? Pager::show(shown, watcher) : Pager::NotAvailable;
    switch (paged) {
    case Pager::Interrupted:
        return Interrupted;
    case Pager::NotAvailable:
        console.printForReader(shown);
        break;
    case Pager::Shown:
        break;
    }

    QString answer;
    switch (console.ask(tr("Do you accept the terms in the licence agreement? "
                           "Type \"yes\" to accept: "),
                        &answer)) {
    case Console::Interrupted:
        return Interrupted;
    case Console::EndOfInput:
        break;
    case Console::Line:
        if (answer.trimmed().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
            return Accepted;
        break;
    }
    console.printError(tr("The licence agreement was not accepted; nothing was installed."));
    return Refused;
}
