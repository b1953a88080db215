#include "fixture.h"

#include "installer/transaction/installationrecord.h"
#include "util/contenthash.h"

#include "tests/support/siteentries.h"
#include "tests/support/testenvironment.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>

namespace Fixture {

const char licenceText[] = "CORVANE ZARVO LICENCE AGREEMENT\n\nYou may install this suite on "
                           "the nodes of your cluster.\n";
const char supplementaryText[] = "SUPPLEMENTARY TERMS\n\tTabs and\fform feeds stay readable.\n";

namespace {

const char toolLogger[] = "#!/bin/sh\necho \"$(basename \"$0\") $* [${XDG_UTILS_INSTALL_MODE:-unset}]\" "
                          ">> \"$ZARVO_TEST_LOG\"\n";

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

QByteArray seededBytes(quint32 seed, int size)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.bounded(256));
    return bytes;
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

} // namespace

QStringList listing(const QString &root)
{
    QStringList names;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QDir(root).relativeFilePath(it.next());
    names.sort();
    return names;
}

bool writeFile(const QString &path, const QByteArray &contents, bool executable)
{
    QDir().mkpath(QFileInfo(path).path());
    if (executable)
        return TestEnvironment::writeScript(path, contents);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(contents) == contents.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeTree(const QString &root, int extras, QString *why)
{
    struct Entry {
        const char *path;
        QByteArray contents;
        bool executable;
    };
    const QList<Entry> entries = {
        {"bin/pesk", "#!/bin/sh\necho pesk\n", true},
        {"bin/lumo", "#!/bin/sh\necho lumo\n", true},
        {"libexec/zarvo.bin", "#!/bin/sh\nexit 0\n", true},
        {"libexec/gdb", "#!/bin/sh\nexit 0\n", true},
        {"doc/RELEASE-NOTES", "Release notes of this test suite.\n", false},
        {"share/empty.txt", QByteArray(), false},
        {"share/data/notes with space.txt", "a name with a blank\n", false},
        {"share/data/\xc3\xbcnic\xc3\xb6" "de.txt", "a name beyond ASCII\n", false},
        {"share/data/deep/er/leaf.dat", seededBytes(7, 100 * 1024 + 13), false},
        {"share/data/deep/er/block.dat", seededBytes(11, 4096), false},
        {"license_terms/license_agreement.txt", licenceText, false},
        {"license_terms/supplementary_terms.txt", supplementaryText, false},
    };
    for (const Entry &entry : entries) {
        if (!writeFile(root + QLatin1Char('/') + QString::fromUtf8(entry.path), entry.contents,
                       entry.executable))
            return fail(why, QStringLiteral("cannot write %1").arg(QString::fromUtf8(entry.path)));
    }
    // More files than percentages, so that a log line per file would show.
    for (int i = 0; i < 300; ++i) {
        const QString path = root + QStringLiteral("/share/many/%1/file-%2.txt").arg(i % 7).arg(i);
        if (!writeFile(path, QByteArray::number(i) + '\n'))
            return fail(why, QStringLiteral("cannot write %1").arg(path));
    }
    if (extras & DesktopFiles) {
        for (int size : {16, 24, 32, 48}) {
            if (!writeFile(root + QStringLiteral("/icons/%1x%1/corvane-zarvo.png").arg(size),
                           seededBytes(static_cast<quint32>(size), 64)))
                return fail(why, QStringLiteral("cannot write an icon"));
        }
        if (!writeFile(root + QStringLiteral("/icons/corvane-zarvo.desktop"),
                       "[Desktop Entry]\nType=Application\nName=Corvane Zarvo\n"
                       "Exec=/old/bin/pesk\nIcon=corvane-zarvo\n")
            || !writeFile(root + QStringLiteral("/libexec/xdg-icon-resource"), toolLogger, true)
            || !writeFile(root + QStringLiteral("/libexec/xdg-desktop-menu"), toolLogger, true))
            return fail(why, QStringLiteral("cannot write the desktop files"));
    }
    if (extras & AfterWork) {
        if (!writeFile(root + QStringLiteral("/lumo-mime.xml"), "<mime-info/>\n")
            || !writeFile(root + QStringLiteral("/post-install.sh"),
                          "#!/bin/sh\necho \"post-install in $(pwd)\" >> \"$ZARVO_TEST_LOG\"\n",
                          true))
            return fail(why, QStringLiteral("cannot write the after-work files"));
    }
    return true;
}

bool writeArchiveSource(const QString &tree, const QString &sourceDir, QString *why,
                        bool directoryEntries)
{
    QDir().mkpath(sourceDir);
    const QString archive = sourceDir + QStringLiteral("/zarvo.tgz");
    QProcess tar;
    if (directoryEntries) {
        tar.start(QStringLiteral("tar"), {QStringLiteral("-czf"), archive, QStringLiteral("-C"), tree,
                                          QStringLiteral(".")});
    } else {
        tar.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"),
                   QStringLiteral("cd \"$1\" && find . ! -type d | tar -czf \"$2\" --no-recursion -T -"),
                   QStringLiteral("sh"), tree, archive});
    }
    if (!tar.waitForFinished(120000) || tar.exitStatus() != QProcess::NormalExit
        || tar.exitCode() != 0)
        return fail(why, QStringLiteral("tar failed: %1").arg(QString::fromLocal8Bit(tar.readAllStandardError())));
    for (const char *name : {"license_agreement.txt", "supplementary_terms.txt"}) {
        const QString relative = QStringLiteral("/license_terms/") + QLatin1String(name);
        if (!writeFile(sourceDir + relative, readFile(tree + relative)))
            return fail(why, QStringLiteral("cannot copy the licence texts"));
    }
    return true;
}

bool addLargeFiles(const QString &root, int count, qint64 size, QString *why)
{
    for (int i = 0; i < count; ++i) {
        const QString path = root + QStringLiteral("/share/big/part-%1.bin").arg(i, 4, 10, QLatin1Char('0'));
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size))
            return fail(why, QStringLiteral("cannot create %1").arg(path));
    }
    return true;
}

bool removeLicenceFile(const QString &sourceDir, const QString &name)
{
    return QFile::remove(sourceDir + QStringLiteral("/license_terms/") + name);
}

QString compareTrees(const QString &expected, const QString &actual, QStringList ignored)
{
    ignored << QStringLiteral(".installed") << QLatin1String(InstallationRecord::fileName)
            << QLatin1String(InstallationRecord::logFileName) << QStringLiteral("uninstall")
            << siteEntries();
    QStringList problems;
    const QStringList want = listing(expected);
    const QStringList have = listing(actual);
    const QSet<QString> wantSet(want.begin(), want.end());
    const QSet<QString> haveSet(have.begin(), have.end());
    for (const QString &name : want) {
        if (ignored.contains(name))
            continue;
        if (!haveSet.contains(name)) {
            problems << QStringLiteral("missing: %1").arg(name);
            continue;
        }
        const QFileInfo a(expected + QLatin1Char('/') + name);
        const QFileInfo b(actual + QLatin1Char('/') + name);
        if (a.isDir() != b.isDir()) {
            problems << QStringLiteral("kind differs: %1").arg(name);
            continue;
        }
        if (a.isDir())
            continue;
        if (a.size() != b.size() || digest(a.filePath()) != digest(b.filePath()))
            problems << QStringLiteral("contents differ: %1").arg(name);
        if (a.isExecutable() != b.isExecutable())
            problems << QStringLiteral("executable bit differs: %1").arg(name);
        if (a.lastModified().toSecsSinceEpoch() != b.lastModified().toSecsSinceEpoch())
            problems << QStringLiteral("modification time differs: %1").arg(name);
    }
    for (const QString &name : have) {
        if (!ignored.contains(name) && !wantSet.contains(name))
            problems << QStringLiteral("unexpected: %1").arg(name);
    }
    return problems.join(QLatin1Char('\n'));
}

QString checkRecord(const QString &destination)
{
    InstallationRecord record;
    QString problem;
    if (!InstallationRecord::load(destination + QLatin1Char('/')
                                      + QLatin1String(InstallationRecord::fileName),
                                  &record, &problem))
        return problem;
    QStringList problems;
    QSet<QString> recorded;
    for (const InstallationRecord::Entry &entry : qAsConst(record.entries)) {
        const QString name = QFile::decodeName(entry.path);
        recorded.insert(name);
        if (entry.type == InstallationRecord::Entry::File
            && entry.hash != ContentHash::ofBytes(readFile(destination + QLatin1Char('/') + name)))
            problems << QStringLiteral("wrong hash: %1").arg(name);
    }
    for (const QString &name : listing(destination)) {
        if (!recorded.remove(name) && !InstallationRecord::isOwnFile(QFile::encodeName(name)))
            problems << QStringLiteral("not recorded: %1").arg(name);
    }
    for (const QString &name : qAsConst(recorded))
        problems << QStringLiteral("recorded, not installed: %1").arg(name);
    return problems.join(QLatin1Char('\n'));
}

int countFiles(const QString &root)
{
    int count = 0;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

QProcessEnvironment environment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"PAGER", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "XDG_UTILS_INSTALL_MODE", "COLUMNS", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QLatin1String(name));
    return environment;
}

bool writeFakeTools(const QString &directory, QString *why)
{
    if (!writeFile(directory + QStringLiteral("/ldd"),
                   "#!/bin/sh\nprintf '\\tlibc.so.6 => /lib/x86_64-linux-gnu/libc.so.6 (0x1)\\n'\n"
                   "printf '\\tlibmissing-%s.so.1 => not found\\n' \"$(basename \"$1\")\"\n",
                   true)
        || !writeFile(directory + QStringLiteral("/xdg-mime"), toolLogger, true))
        return fail(why, QStringLiteral("cannot write the fake tools"));
    return true;
}

} // namespace Fixture
