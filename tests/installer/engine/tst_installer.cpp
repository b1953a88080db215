#include "installer/engine/installer.h"
#include "installer/engine/userprompt.h"
#include "tests/installer/engine/enginetestsupport.h"
#include "tests/support/testenvironment.h"
#include "tests/util/testarchive.h"
#include "installer/engine/installthread.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <atomic>
#include <memory>

namespace {

// Answers the destination question as the test says and remembers it.
class ScriptedPrompt : public UserPrompt
{
public:
    explicit ScriptedPrompt(bool answer) : m_answer(answer) {}

    bool askYesNo(QObject *owner, const QString &title, const QString &text) override
    {
        questions << QStringList{title, text};
        owners << owner;
        return m_answer;
    }
    void tell(QObject *, Severity, const QString &title, const QString &text) override
    {
        told << QStringList{title, text};
    }

    QList<QStringList> questions;
    QList<QObject *> owners;
    QList<QStringList> told;

private:
    bool m_answer;
};

// Installation files whose copy waits to open "a/big" until `thread` has
// been asked to stop, over an earlier installation, which a stop must leave
// as it was.
struct BlockingTree
{
    bool make(const QString &source, const QString &destination)
    {
        return QDir().mkpath(source + QStringLiteral("/a")) && QDir().mkpath(source + QStringLiteral("/bin"))
            && writeFile(source + QStringLiteral("/bin/pesk"), "x")
            && writeFile(source + QStringLiteral("/a/big"), QByteArray(1024 * 1024, 'b'))
            && writeFile(source + QStringLiteral("/a/next"), "n")
            && QDir().mkpath(destination + QStringLiteral("/a"))
            && writeFile(destination + QStringLiteral("/.installed"), QByteArray())
            && peer.leaseUntil(source + QStringLiteral("/a/big"), [this] {
                   InstallThread *running = thread.load();
                   return running && running->isCancelRequested();
               });
    }
    std::atomic<InstallThread *> thread{nullptr};
    FifoPeer peer;
};

} // namespace

class TestInstaller : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void destinationQuestion_data();
    void destinationQuestion();
    void relaysTheInstallation();
    void cancelWithoutThread();
    void cancelWhileCopying();
    void cancelAfterCopying_data();
    void cancelAfterCopying();
    void destroyWhileRunning();
    void secondInstallReplacesTheFirst();

private:
    // What the destination holds, hidden entries included.
    QStringList earlierState() const
    {
        return QDir(m_destination).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot
                                             | QDir::System, QDir::Name)
            + QDir(m_destination + QStringLiteral("/a")).entryList(QDir::AllEntries | QDir::Hidden
                                                                | QDir::NoDotAndDotDot);
    }
    QString makeArchiveSource();

    QScopedPointer<QTemporaryDir> m_temp;
    QString m_source;
    QString m_destination;
};

void TestInstaller::init()
{
    m_temp.reset(new QTemporaryDir);
    QVERIFY(m_temp->isValid());
    m_source = m_temp->filePath(QStringLiteral("source"));
    m_destination = m_temp->filePath(QStringLiteral("destination"));
    const QString tools = m_temp->filePath(QStringLiteral("tools"));
    QVERIFY(QDir().mkpath(tools));
    QVERIFY(writeFile(m_temp->filePath(QStringLiteral("released")), QByteArray()));
    QVERIFY(installFakeLdd(tools, m_temp->filePath(QStringLiteral("released")),
                           m_temp->filePath(QStringLiteral("ldd.log")),
                           {{"libexec/zarvo.bin", {"libmpi.so.40"}}, {"libexec/gdb", {"libpython3.so"}}}));
}

QString TestInstaller::makeArchiveSource()
{
    QDir().mkpath(m_source);
    TestArchive()
        .file("bin/pesk", "#!/bin/sh\n", 0755)
        .file("libexec/zarvo.bin", "program", 0755)
        .write(m_source + QStringLiteral("/zarvo.tgz"));
    return m_source;
}

void TestInstaller::destinationQuestion_data()
{
    QTest::addColumn<QString>("existing");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("new destination is not asked about") << "" << false << false << "finished";
    QTest::newRow("existing directory, Yes") << "directory" << true << true << "finished";
    QTest::newRow("existing directory, No") << "directory" << false << true << "cancelled";
    QTest::newRow("existing file, Yes")
        << "file" << true << true
        << "error: Could not create destination directory \"@D\". File exists";
    QTest::newRow("existing file, No") << "file" << false << true << "cancelled";
    QTest::newRow("link to an existing directory, No") << "link" << false << true << "cancelled";
    QTest::newRow("broken link is not asked about")
        << "broken link" << false << false
        << "error: Could not create destination directory \"@D\". File exists";
}

void TestInstaller::destinationQuestion()
{
    QFETCH(QString, existing);
    QFETCH(bool, answer);
    QFETCH(bool, asked);
    QFETCH(QString, outcome);

    makeArchiveSource();
    if (existing == QLatin1String("directory"))
        QVERIFY(QDir().mkpath(m_destination));
    if (existing == QLatin1String("file"))
        QVERIFY(writeFile(m_destination, "in the way"));
    if (existing == QLatin1String("link")) {
        QVERIFY(QDir().mkpath(m_temp->filePath(QStringLiteral("elsewhere"))));
        QVERIFY(QFile::link(m_temp->filePath(QStringLiteral("elsewhere")), m_destination));
    }
    if (existing == QLatin1String("broken link"))
        QVERIFY(QFile::link(m_temp->filePath(QStringLiteral("nowhere")), m_destination));
    outcome.replace(QLatin1String("@D"), m_destination);

    QObject window;
    ScriptedPrompt prompt(answer);
    Installer installer(&window, &prompt);
    SignalLog log;
    log.watch(&installer);
    installer.install(m_source, m_destination);

    if (asked) {
        QCOMPARE(prompt.questions.size(), 1);
        QCOMPARE(prompt.owners.value(0), &window);
        QCOMPARE(prompt.questions.at(0),
                 QStringList({QStringLiteral("Destination Exists"),
                              QStringLiteral("Destination directory \"%1\" already exists. Do you "
                                             "wish to continue?")
                                  .arg(m_destination)}));
    } else {
        QCOMPARE(prompt.questions.size(), 0);
    }
    if (outcome == QLatin1String("cancelled")) {
        // Before install returns, and nothing else follows.
        QCOMPARE(log.entries, QStringList{"cancelled"});
        deliverPostedReports();
        QCOMPARE(log.entries, QStringList{"cancelled"});
        QCOMPARE(installer.destination(), QString());
        QCOMPARE(installer.missingLibraries(), QStringList());
        QVERIFY(!QFileInfo::exists(m_destination + QStringLiteral("/.installed")));
        return;
    }
    QCOMPARE(installer.destination(), m_destination);
    QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("finished")) + log.withPrefix("error: ").size()
                                 > 0,
                             20000);
    deliverPostedReports();
    const QString trace = log.entries.join(QLatin1Char('\n'));
    if (outcome == QLatin1String("finished")) {
        QVERIFY2(log.count(QStringLiteral("finished")) == 1, qPrintable(trace));
        QVERIFY2(log.withPrefix("error: ").isEmpty(), qPrintable(trace));
        QCOMPARE(installer.missingLibraries(), QStringList({"libmpi.so.40", "libpython3.so"}));
    } else {
        QVERIFY2(log.entries.contains(outcome), qPrintable(trace));
        QCOMPARE(log.count(QStringLiteral("finished")), 0);
    }
    QCOMPARE(log.count(QStringLiteral("cancelled")), 0);
    QCOMPARE(prompt.told.size(), 0);
}

void TestInstaller::relaysTheInstallation()
{
    QVERIFY(QDir().mkpath(m_source));
    QVERIFY(TestArchive().file("bin/pesk", "x", 0755).directory("lib/").write(m_source + "/zarvo.tgz"));
    ScriptedPrompt prompt(false);
    Installer installer(nullptr, &prompt);
    SignalLog log;
    log.watch(&installer);
    installer.install(m_source, m_destination);
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("finished")), 1, 20000);
    deliverPostedReports();

    const QStringList expected{
        QStringLiteral("status: Examining source directory \"%1\"").arg(m_source),
        QStringLiteral("status: Creating destination directory \"%1\"").arg(m_destination),
        QStringLiteral("status: Counting files"),
        QStringLiteral("status: Copying files"),
        QStringLiteral("status: Extracting \"bin/pesk\" to \"%1/bin/pesk\"").arg(m_destination),
        QStringLiteral("progress: 50"),
        QStringLiteral("status: Extracting \"lib/\" to \"%1/lib/\"").arg(m_destination),
        QStringLiteral("progress: 100"),
        QStringLiteral("finished")};
    // Tar's reports and those of the thread itself, in the order they were made.
    QCOMPARE(log.entries, expected);
    QVERIFY(QFileInfo::exists(m_destination + QStringLiteral("/.installed")));
}

void TestInstaller::cancelWithoutThread()
{
    ScriptedPrompt prompt(true);
    Installer installer(nullptr, &prompt);
    SignalLog log;
    log.watch(&installer);
    installer.cancel();
    installer.cancel();
    deliverPostedReports();
    QCOMPARE(log.entries, QStringList());
    QCOMPARE(installer.missingLibraries(), QStringList());
    QCOMPARE(installer.installMode(), 1);
}

void TestInstaller::cancelWhileCopying()
{
    BlockingTree blocking;
    QVERIFY(blocking.make(m_source, m_destination));
    ScriptedPrompt prompt(true);
    Installer installer(nullptr, &prompt);
    SignalLog log;
    log.watch(&installer);
    installer.install(m_source, m_destination);
    InstallThread *thread = installer.installThread();
    QVERIFY(thread);
    blocking.thread = thread;
    QTRY_VERIFY_WITH_TIMEOUT(log.entries.contains(QStringLiteral("status: Copying \"big\" to \"%1/a\"")
                                                      .arg(m_destination)),
                             10000);
    installer.cancel();
    // The worker has stopped: the file in progress is complete, nothing after it started.
    blocking.peer.join();
    QVERIFY(blocking.peer.releasedInTime());
    QCOMPARE(earlierState(), QStringList({".installed", "a"}));
    QVERIFY(!installer.installThread());

    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("cancelled")), 1, 5000);
    deliverPostedReports();
    installer.cancel();
    deliverPostedReports();
    const QString trace = log.entries.join(QLatin1Char('\n'));
    QVERIFY2(log.count(QStringLiteral("cancelled")) == 1, qPrintable(trace));
    QCOMPARE(log.count(QStringLiteral("finished")), 0);
    QVERIFY2(log.withPrefix("error: ").isEmpty(), qPrintable(trace));
    QCOMPARE(installer.missingLibraries(), QStringList());
}

void TestInstaller::cancelAfterCopying_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("errors");

    QTest::newRow("cancel after the end, reports not yet delivered") << "archive" << 0;
    QTest::newRow("cancel after a copy over a file in the way") << "blocked file" << 0;
    QTest::newRow("cancel during the library scan") << "scan" << 0;
}

// A cancel that comes once the files are in place stops nothing: every
// report arrives, in order, and the scan's findings with the finish.
void TestInstaller::cancelAfterCopying()
{
    QFETCH(QString, layout);
    QFETCH(int, errors);

    if (layout == QLatin1String("blocked file")) {
        QVERIFY(QDir().mkpath(m_source + QStringLiteral("/lib")) && QDir().mkpath(m_source + "/bin")
                && QDir().mkpath(m_destination));
        QVERIFY(writeFile(m_source + QStringLiteral("/lib/libz.so"), "library")
                && writeFile(m_source + QStringLiteral("/bin/pesk"), "x")
                && writeFile(m_destination + QStringLiteral("/lib"), "in the way"));
    } else {
        makeArchiveSource();
    }
    // The fake ldd waits for this file.
    const QString release = m_temp->filePath(QStringLiteral("released"));
    if (layout == QLatin1String("scan"))
        QVERIFY(QFile::remove(release));
    ScriptedPrompt prompt(true);
    Installer installer(nullptr, &prompt);
    SignalLog log;
    log.watch(&installer);
    installer.install(m_source, m_destination);
    InstallThread *thread = installer.installThread();
    // Within the scan, whose ldd ends once the cancel was asked for, or
    // finished without a report delivered yet.
    FifoPeer peer;
    if (layout == QLatin1String("scan")) {
        peer.touchAfter(release, [thread] { return thread->isCancelRequested(); });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_destination + "/.installed"), 10000);
    } else {
        QVERIFY(thread->wait(20000));
    }
    installer.cancel();
    peer.join();
    deliverPostedReports();

    const QString trace = log.entries.join(QLatin1Char('\n'));
    QVERIFY2(log.entries.contains("progress: 100") && log.entries.last() == "finished"
                     && log.count("finished") == 1 && log.count("cancelled") == 0
                     && log.withPrefix("error: ").size() == errors,
             qPrintable(trace));
    QCOMPARE(installer.missingLibraries(), QStringList({"libmpi.so.40", "libpython3.so"}));
}

void TestInstaller::destroyWhileRunning()
{
    BlockingTree blocking;
    QVERIFY(blocking.make(m_source, m_destination));
    ScriptedPrompt prompt(true);
    auto installer = std::make_unique<Installer>(nullptr, &prompt);
    SignalLog log;
    log.watch(installer.get());
    installer->install(m_source, m_destination);
    InstallThread *thread = installer->installThread();
    QVERIFY(thread);
    blocking.thread = thread;
    QTRY_VERIFY_WITH_TIMEOUT(log.entries.contains(QStringLiteral("status: Copying \"big\" to \"%1/a\"")
                                                      .arg(m_destination)),
                             10000);
    const QStringList before = log.entries;
    installer.reset();
    blocking.peer.join();
    QVERIFY(blocking.peer.releasedInTime());
    QCOMPARE(earlierState(), QStringList({".installed", "a"}));
    deliverPostedReports();
    QCOMPARE(log.entries, before);
}

void TestInstaller::secondInstallReplacesTheFirst()
{
    BlockingTree blocking;
    QVERIFY(blocking.make(m_source, m_destination));
    ScriptedPrompt prompt(true);
    Installer installer(nullptr, &prompt);
    SignalLog log;
    log.watch(&installer);
    installer.install(m_source, m_destination);
    InstallThread *thread = installer.installThread();
    QVERIFY(thread);
    blocking.thread = thread;
    QTRY_VERIFY_WITH_TIMEOUT(!log.withPrefix("status: Copying \"big\"").isEmpty(), 10000);

    const QString second = m_temp->filePath(QStringLiteral("second"));
    makeArchiveSource();
    installer.install(m_source, second);
    blocking.peer.join();
    QTRY_COMPARE_WITH_TIMEOUT(log.count(QStringLiteral("finished")), 1, 20000);
    deliverPostedReports();
    QCOMPARE(log.count(QStringLiteral("cancelled")), 1);
    QCOMPARE(installer.destination(), second);
    QVERIFY(QFileInfo::exists(second + QStringLiteral("/.installed")));
    QCOMPARE(earlierState(), QStringList({".installed", "a"}));
}

ZARVO_TEST_MAIN_CORE(TestInstaller)
#include "tst_installer.moc"
