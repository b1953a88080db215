#include "tests/installer/wizard/wizarddriver.h"

#include "installer/wizard/installerwizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRadioButton>

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton answer)
    : m_answer(answer)
{
    connect(&timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    timer.start(20);
}

void BoxAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (!box) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        return;
    }
    int open = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        open += qobject_cast<QMessageBox *>(w) && w->isVisible();
    m_nested = m_nested || open > 1;
    SeenBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.format = box->textFormat();
    seen.icon = box->icon();
    seen.parent = box->parentWidget();
    m_seen.append(seen);
    if (QAbstractButton *b = box->button(m_answer))
        b->click();
    else
        box->reject();
}

QString BoxAnswerer::describe() const
{
    QStringList lines;
    for (const SeenBox &box : m_seen)
        lines << QStringLiteral("[%1] %2").arg(box.title, box.text);
    return lines.isEmpty() ? QStringLiteral("no box") : lines.join(QLatin1Char('\n'));
}

namespace WizardDriver {

bool writeFile(const QString &path, const QByteArray &content)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
}

namespace {

bool writeLicence(const QString &dir)
{
    return writeFile(dir + QStringLiteral("/license_terms/license_agreement.txt"),
                     "You may use the suite on your cluster.\n")
        && writeFile(dir + QStringLiteral("/license_terms/supplementary_terms.txt"),
                     "No warranty.\n");
}

bool writePayload(const QString &dir, int extraFiles)
{
    if (!writeFile(dir + QStringLiteral("/bin/pesk"), "#!/bin/sh\nexit 0\n")
        || !QFile::setPermissions(dir + QStringLiteral("/bin/pesk"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || !writeFile(dir + QStringLiteral("/doc/RELEASE-NOTES"),
                      "Corvane Zarvo 25.1.3\n\n  * <b>faster</b> start-up & more\n")
        || !writeFile(dir + QStringLiteral("/share/readme.txt"), "readme\n"))
        return false;
    for (int i = 0; i < extraFiles; ++i) {
        if (!writeFile(dir + QStringLiteral("/share/many/%1/file%2").arg(i / 100).arg(i), "x"))
            return false;
    }
    return true;
}

} // namespace

bool makeTree(const QString &dir, int extraFiles)
{
    return writeLicence(dir) && writePayload(dir, extraFiles);
}

bool makeArchiveSource(const QString &dir)
{
    const QString payload = dir + QStringLiteral("/payload");
    if (!writeLicence(dir) || !writePayload(payload, 0))
        return false;
    QProcess tar;
    tar.start(QStringLiteral("tar"),
              {QStringLiteral("-czf"), dir + QStringLiteral("/zarvo.tgz"), QStringLiteral("-C"),
               payload, QStringLiteral(".")});
    if (!tar.waitForFinished(30000) || tar.exitStatus() != QProcess::NormalExit
        || tar.exitCode() != 0)
        return false;
    return QDir(payload).removeRecursively();
}

namespace {

QtMessageHandler previousHandler = nullptr;

void dropSizeHintWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("does not support propagateSizeHints")))
        return;
    previousHandler(type, context, message);
}

} // namespace

void quietPlatformWarnings()
{
    if (!previousHandler)
        previousHandler = qInstallMessageHandler(dropSizeHintWarnings);
}

QAbstractButton *button(InstallerWizard &wizard, int which)
{
    return wizard.button(static_cast<QWizard::WizardButton>(which));
}

bool goTo(InstallerWizard &wizard, int id)
{
    for (int step = 0; step < 10 && wizard.currentId() != id; ++step) {
        if (wizard.currentId() == 1) {
            if (auto *accept = wizard.findChild<QRadioButton *>(QStringLiteral("acceptRadioButton")))
                accept->setChecked(true);
        }
        // Press what a user would press; a disabled button does nothing.
        QAbstractButton *forward = wizard.button(QWizard::NextButton);
        if (!forward->isVisible())
            forward = wizard.button(QWizard::CommitButton);
        if (!forward->isVisible() || !forward->isEnabled())
            return false;
        forward->click();
    }
    return wizard.currentId() == id;
}

} // namespace WizardDriver
