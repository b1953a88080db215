// Names a real installation may carry: the longest a file system allows,
// paths at the system's limit, and names that are not ASCII or not even
// valid UTF-8, under the C and the UTF-8 locale. Each is installed under
// its own bytes or refused with one error; none is lost without a word or
// installed under another name.

#include "tests/reliability/reliabilitysupport.h"
#include "tests/support/testenvironment.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <unistd.h>

using namespace Reliability;

namespace {

QByteArray workingDirectory()
{
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) ? QByteArray(buffer) : QByteArray();
}

// An unpacked installation with one more file at `path`, its directories
// included.
Tree installationWith(const QByteArray &path)
{
    Tree tree;
    tree << Entry{Entry::Directory, "bin", QByteArray(), 0755};
    tree << Entry{Entry::File, "bin/pesk", "#!/bin/sh\n", 0755};
    const QList<QByteArray> parts = path.split('/');
    QByteArray dir;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        dir += (dir.isEmpty() ? "" : "/") + parts.at(i);
        tree << Entry{Entry::Directory, dir, QByteArray(), 0755};
    }
    tree << Entry{Entry::File, path, "payload of " + path.right(40) + "\n", 0644};
    return tree;
}

// A relative path of directories of 200 bytes and a file, `length` bytes long.
QByteArray pathOfLength(int length)
{
    QByteArray path;
    while (length - path.size() > 201 + 20)
        path += QByteArray(200, 'd') + '/';
    path += QByteArray(length - path.size(), 'f');
    return path;
}

} // namespace

class tst_NameFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void longNames_data();
    void longNames();
    void encodings_data();
    void encodings();

private:
    // Writes `tree` as a new source in the given mode and names a fresh
    // destination whose path is longer than the source's by far, so that a
    // source within the system's limit can have a copy beyond it.
    bool prepare(const Tree &tree, bool archive, QString *source, QByteArray *destination,
                 QString *why, ArchiveFormat format = ArchiveFormat::Gnu);
    QByteArray nextDestination() const;

    QTemporaryDir work;
    int runs = 0;
};

void tst_NameFaults::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY(openUpTo(work.path()));
}

QByteArray tst_NameFaults::nextDestination() const
{
    return QFile::encodeName(work.filePath(QStringLiteral("d%1-").arg(runs)))
            + QByteArray(64, 'x');
}

bool tst_NameFaults::prepare(const Tree &tree, bool archive, QString *source,
                             QByteArray *destination, QString *why, ArchiveFormat format)
{
    *destination = nextDestination();
    *source = work.filePath(QStringLiteral("s%1").arg(runs++));
    if (!QDir().mkpath(*source)) {
        *why = QStringLiteral("cannot create the source");
        return false;
    }
    if (archive)
        return writeArchive(tree, QFile::encodeName(*source + QStringLiteral("/zarvo.tgz")), why,
                            format);
    if (!writeTree(tree, QFile::encodeName(*source))) {
        *why = QStringLiteral("cannot write the source tree");
        return false;
    }
    return true;
}

void tst_NameFaults::longNames_data()
{
    QTest::addColumn<bool>("archive");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("destinationLength"); // 0: any
    QTest::addColumn<int>("outcome");
    const QByteArray longest = "share/" + QByteArray(251, 'n') + ".txt";
    for (bool archive : {false, true}) {
        const char *mode = archive ? "archive" : "copy";
        QTest::addRow("%s: name of 255 bytes", mode) << archive << longest << 0 << int(Outcome::Exact);
        QTest::addRow("%s: path one byte short of PATH_MAX", mode)
                << archive << QByteArray() << PATH_MAX - 1 << int(Outcome::Exact);
    }
    QTest::newRow("archive: name of 256 bytes")
            << true << QByteArray("share/" + QByteArray(252, 'n') + ".txt") << 0
            << int(Outcome::Refused);
    QTest::newRow("archive: path beyond PATH_MAX")
            << true << QByteArray() << PATH_MAX + 40 << int(Outcome::Refused);
    // The source tree itself stays within the limit; its copy cannot.
    QTest::newRow("copy: destination path beyond PATH_MAX")
            << false << QByteArray() << PATH_MAX + 40 << int(Outcome::Accounted);
}

void tst_NameFaults::longNames()
{
    QFETCH(bool, archive);
    QFETCH(QByteArray, path);
    QFETCH(int, destinationLength);
    QFETCH(int, outcome);

    if (destinationLength)
        path = pathOfLength(destinationLength - nextDestination().size() - 1);
    const Tree tree = installationWith(path);
    QString source, why;
    QByteArray destination;
    QVERIFY2(prepare(tree, archive, &source, &destination, &why), qPrintable(why));
    if (destinationLength)
        QCOMPARE(destination.size() + 1 + path.size(), destinationLength);

    const QByteArray cwd = workingDirectory();
    ScriptedPrompt prompt;
    Reports reports;
    QVERIFY(runInstallation(source, QFile::decodeName(destination), &prompt, &reports));
    QCOMPARE(workingDirectory(), cwd);
    why = verify(Outcome(outcome), reports, expectedListing(tree, !archive), destination);
    QVERIFY2(why.isEmpty(), qPrintable(why));
    if (Outcome(outcome) == Outcome::Accounted)
        QVERIFY2(!reports.errors.isEmpty(), qPrintable(reports.summary()));
    removeTree(destination);
}

void tst_NameFaults::encodings_data()
{
    QTest::addColumn<int>("mode"); // 0 copy, 1 GNU tar archive, 2 pax archive
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("outcome");
    const QByteArray utf8 = "share/caf\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac.txt";
    const QByteArray latin1 = "share/caf\xe9-r\xe9sum\xe9.txt";
    for (const char *locale : {"C", "C.UTF-8"}) {
        QTest::addRow("copy, LANG=%s: UTF-8 name", locale)
                << 0 << QByteArray(locale) << utf8 << int(Outcome::Exact);
        QTest::addRow("copy, LANG=%s: Latin-1 name", locale)
                << 0 << QByteArray(locale) << latin1 << int(Outcome::Exact);
        QTest::addRow("GNU tar, LANG=%s: UTF-8 name", locale)
                << 1 << QByteArray(locale) << utf8 << int(Outcome::Exact);
        QTest::addRow("GNU tar, LANG=%s: Latin-1 name", locale)
                << 1 << QByteArray(locale) << latin1 << int(Outcome::Exact);
        // A pax name is UTF-8 and the reader converts it to the locale's
        // encoding; where it cannot, libarchive warns, and a warning ends
        // the installation with an error.
        QTest::addRow("pax, LANG=%s: UTF-8 name", locale)
                << 2 << QByteArray(locale) << utf8
                << int(qstrcmp(locale, "C") == 0 ? Outcome::Refused : Outcome::Exact);
    }
}

void tst_NameFaults::encodings()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, locale);
    QFETCH(QByteArray, path);
    QFETCH(int, outcome);

    const Tree tree = installationWith(path);
    QString source, why;
    QByteArray destination;
    QVERIFY2(prepare(tree, mode > 0, &source, &destination, &why,
                     mode == 2 ? ArchiveFormat::Pax : ArchiveFormat::Gnu),
             qPrintable(why));

    Reports reports;
    const QStringList environment = {QStringLiteral("LANG=") + QString::fromLatin1(locale),
                                     QStringLiteral("LC_ALL=") + QString::fromLatin1(locale)};
    QVERIFY2(runInHelper(QFile::encodeName(source), destination, false, environment, &reports, &why),
             qPrintable(why));
    why = verify(Outcome(outcome), reports, expectedListing(tree, mode == 0), destination);
    QVERIFY2(why.isEmpty(), qPrintable(why + QStringLiteral("\n") + reports.log.join(QLatin1Char('\n'))));
    removeTree(destination);
}

ZARVO_TEST_MAIN_CORE(tst_NameFaults)
#include "tst_namefaults.moc"
