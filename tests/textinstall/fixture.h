#ifndef ZARVO_TESTS_TEXTINSTALL_FIXTURE_H
#define ZARVO_TESTS_TEXTINSTALL_FIXTURE_H

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Installation files generated at test time (never checked in): an unpacked
// suite tree, the same tree packed as the archive, and large sparse files
// for runs that must still be copying when they are interrupted.
namespace Fixture {

extern const char licenceText[];
extern const char supplementaryText[];

enum TreeExtra { Plain = 0, DesktopFiles = 1, AfterWork = 2 };

// A suite tree at root: launchers, programs, documents, nested data with
// awkward names, a few hundred small files, the licence texts. DesktopFiles
// adds the icons, desktop entry and fake freedesktop tools that log their
// arguments and XDG_UTILS_INSTALL_MODE to $ZARVO_TEST_LOG; AfterWork adds "lumo-mime.xml" and a
// "post-install.sh" that writes $ZARVO_TEST_LOG.
bool writeTree(const QString &root, int extras, QString *why);
// A source directory holding `archiveName` packed from tree, and the licence
// texts; without directory entries the directories are made on the way.
bool writeArchiveSource(const QString &tree, const QString &sourceDir, QString *why,
                        bool directoryEntries = true);
// `count` sparse files of `size` bytes below root/share/big.
bool addLargeFiles(const QString &root, int count, qint64 size, QString *why);
// Removes a licence file from a source directory.
bool removeLicenceFile(const QString &sourceDir, const QString &name);

// Differences between two trees (names, kinds, contents, executable bits,
// modification times of files in whole seconds),
// one per line; empty when they agree. Relative paths in `ignored` are
// skipped, and so are the marker and what every installation adds beside
// its payload.
QString compareTrees(const QString &expected, const QString &actual,
                     QStringList ignored = QStringList());
// Every entry below root, hidden ones too, relative and sorted.
QStringList listing(const QString &root);
// Regular files below root.
int countFiles(const QString &root);
// Empty when the installation record in `destination` lists exactly what is
// installed there, with the right hashes; else what is wrong.
QString checkRecord(const QString &destination);

// The environment for the program: the test's own (temporary HOME and XDG_*),
// without a pager or a desktop session.
QProcessEnvironment environment();
// A directory of fake programs first on PATH: `ldd` reporting one missing
// library per scanned program, `xdg-mime` logging to $ZARVO_TEST_LOG.
bool writeFakeTools(const QString &directory, QString *why);

bool writeFile(const QString &path, const QByteArray &contents, bool executable = false);
QByteArray readFile(const QString &path);

} // namespace Fixture

#endif
