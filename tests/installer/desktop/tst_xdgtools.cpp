#include "installer/administration/administration.h"
#include "installer/administration/record.h"
#include "installer/desktop/fileassociation.h"
#include "installer/desktop/launchicons.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <unistd.h>

// The installation's menu entry, icons and file association, registered by
// the real freedesktop.org tools into the temporary home (or, for all users,
// the stand-in system directories) where a desktop looks, and undone again
// by the removal with the tools' own uninstall commands.
class TestXdgTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void install_data();
    void install();

private:
    QString validate(const QString &entry);
};

void TestXdgTools::initTestCase()
{
    for (const char *tool : { "xdg-icon-resource", "xdg-desktop-menu", "desktop-file-validate" }) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    }
}

namespace {

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

} // namespace

// The validator's complaints, or an empty string when it passes the entry.
QString TestXdgTools::validate(const QString &entry)
{
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(QStringLiteral("desktop-file-validate"), { entry });
    if (!validator.waitForFinished(20000)) {
        validator.kill();
        validator.waitForFinished(5000);
        return QStringLiteral("desktop-file-validate did not finish");
    }
    const QString output = QString::fromLocal8Bit(validator.readAll()).trimmed();
    if (validator.exitStatus() != QProcess::NormalExit || validator.exitCode() != 0)
        return QStringLiteral("rejected: ") + output;
    return output;
}

void TestXdgTools::install_data()
{
    QTest::addColumn<QString>("dirName");
    QTest::addColumn<bool>("allUsers");

    QTest::newRow("plain directory") << "zarvo-25.1.3" << false;
    // The tools split their arguments at blanks; the wizard refuses blanks.
    QTest::newRow("directory with reserved characters") << "z$tools&(old)it's;x" << false;
    QTest::newRow("for all users") << "zarvo-25.1.3" << true;
}

void TestXdgTools::install()
{
    QFETCH(QString, dirName);
    QFETCH(bool, allUsers);

    const QString dataHome = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    const QString systemData = QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS"));
    QVERIFY(dataHome.startsWith(TestEnvironment::home()));
    QVERIFY(!systemData.contains(QLatin1Char(':')) && systemData.startsWith(QFileInfo(TestEnvironment::home()).path()));
    QDir(dataHome).removeRecursively();
    QDir(systemData).removeRecursively();
    // The tools use for all users the first of these directories they may write.
    const QString systemConfig = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_DIRS"));
    if (allUsers && QFileInfo::exists(QStringLiteral("/usr/share/gnome/apps")))
        QSKIP("the tools would also register in /usr/share/gnome/apps");
    for (const QString &kind : {systemData + QStringLiteral("/applications"),
                                systemData + QStringLiteral("/desktop-directories"),
                                systemData + QStringLiteral("/icons/hicolor"),
                                systemData + QStringLiteral("/mime/packages"),
                                systemConfig + QStringLiteral("/menus")})
        QVERIFY(QDir().mkpath(kind));
    const QString registered = allUsers ? systemData : dataHome;

    qputenv("KDE_FULL_SESSION", "true");
    FakeInstallation inst;
    inst.setDirName(dirName);
    QVERIFY(inst.addIcons());
    for (const char *tool : { "xdg-icon-resource", "xdg-desktop-menu" }) {
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(QLatin1String(tool)),
                            inst.dir() + QStringLiteral("/libexec/") + QLatin1String(tool)));
    }
    const QString oldCurrent = QDir::currentPath();
    QVERIFY(QDir::setCurrent(inst.tmpPath()));

    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);
    installer.setInstallMode(allUsers ? 0 : 1);
    QVERIFY(writeFile(inst.dir() + QStringLiteral("/lumo-mime.xml"),
                      "<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop.org/"
                               "standards/shared-mime-info\">\n  <mime-type type=\"application/x-lumo\">"
                               "<glob pattern=\"*.lumo\"/></mime-type>\n</mime-info>\n"));
    // In this order: the menu tool sets the mode that xdg-mime takes.
    DesktopSteps steps = installLaunchIcons(installer, inst.dir(), inst.dir() + QStringLiteral("/bin"));
    steps += installFileAssociation(inst.dir());
    QDir::setCurrent(oldCurrent);

    QStringList shown;
    for (const RecordingPrompt::Box &box : qAsConst(prompt.boxes))
        shown << box.title + QStringLiteral(": ") + box.text;
    QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char('\n'))));

    for (const int size : FakeInstallation::iconSizes()) {
        const QString installed =
                registered + QStringLiteral("/icons/hicolor/%1x%1/apps/corvane-zarvo.png").arg(size);
        QFile icon(installed);
        QVERIFY2(icon.open(QIODevice::ReadOnly), qPrintable(installed + " is missing"));
        QFile shipped(inst.dir() + QStringLiteral("/icons/%1x%1/corvane-zarvo.png").arg(size));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QCOMPARE(icon.readAll(), shipped.readAll());
    }

    const QString menuEntry = registered + QStringLiteral("/applications/corvane-zarvo.desktop");
    QVERIFY(QFile::exists(registered + QStringLiteral("/mime/packages/lumo-mime.xml")));
    QFile entry(menuEntry);
    QVERIFY2(entry.open(QIODevice::ReadOnly), qPrintable(menuEntry + " is missing"));
    const QByteArray text = entry.readAll();
    QVERIFY2(text.contains("\nName=Corvane Zarvo 25.1.3\n"), text);
    QVERIFY2(text.contains("\nTryExec=" + QFile::encodeName(inst.dir())
                           + "/bin/corvane-zarvo\n"), text);
    QVERIFY2(text.contains(QFile::encodeName(inst.dir()) + "/bin/corvane-zarvo"), text);

    for (const QString &path : { inst.entryPath(), menuEntry }) {
        const QString complaints = validate(path);
        QVERIFY2(complaints.isEmpty(), qPrintable(path + QStringLiteral(": ") + complaints));
    }
    // The per-user mode kept the entry out of the system's menu, even for root.
    QVERIFY(!QFile::exists(QStringLiteral("/usr/share/applications/corvane-zarvo.desktop")));

    // Undone from the record of what was registered, in the mode it was made in.
    Administration::Record record;
    record.date = "2026-12-08T11:44:18Z";
    record.sourceKind = "tree";
    record.userId = ::geteuid();
    for (const DesktopStep &step : steps) {
        if (step.kind != DesktopStep::EntryRewrite) {
            QVERIFY2(step.succeeded, qPrintable(step.program));
            record.registrations.push_back({QFileInfo(step.program).fileName().toStdString(),
                                            step.installMode.toStdString(),
                                            QFile::encodeName(step.file).toStdString()});
        }
    }
    QCOMPARE(record.registrations.size(), size_t(FakeInstallation::iconSizes().size() + 2));
    QVERIFY(writeFile(inst.dir() + QStringLiteral("/.installation-record"),
                      QByteArray::fromStdString(record.text())));
    struct : Administration::Io {
        void print(const std::string &) override {}
    } io;
    QCOMPARE(Administration::uninstall(io, QFile::encodeName(inst.dir()).toStdString(), {true, false}),
             int(Administration::Done));
    QStringList left;
    for (const QString &top : {dataHome, systemData}) {
        for (QDirIterator it(top, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString path = it.next();
            if (path.contains(QLatin1String("corvane-zarvo")) || path.contains(QLatin1String("lumo")))
                left << path;
        }
    }
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char('\n'))));
}

ZARVO_TEST_MAIN_CORE(TestXdgTools)
#include "tst_xdgtools.moc"
