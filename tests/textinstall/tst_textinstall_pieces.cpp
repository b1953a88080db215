// The text installer's pieces that shape what the user sees or what the
// command line means, without running a whole installation.
#include "textinstall/commandline.h"
#include "textinstall/console.h"
#include "textinstall/destinationchoice.h"
#include "textinstall/progressprinter.h"

#include "tests/support/testenvironment.h"

#include <QtTest>

class TestTextInstallPieces : public QObject
{
    Q_OBJECT

private slots:
    void terminalLine_data();
    void terminalLine();
    void logLine_data();
    void logLine();
    void commandLine_data();
    void commandLine();
    void destinationRule_data();
    void destinationRule();
};

void TestTextInstallPieces::terminalLine_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("expected");

    QTest::newRow("before the first percentage")
        << -1 << QStringLiteral("Counting files") << 80 << QStringLiteral("Counting files");
    QTest::newRow("half done, bar of nineteen")
        << 50 << QStringLiteral("Copying files") << 80
        << QStringLiteral("[#########----------]  50% Copying files");
    QTest::newRow("done") << 100 << QStringLiteral("Finished") << 132
                          << QStringLiteral("[##############################] 100% Finished");
    QTest::newRow("narrow terminal drops the bar")
        << 7 << QStringLiteral("Copying") << 30 << QStringLiteral("  7% Copying");
    QTest::newRow("cut one column short of the width")
        << 3 << QStringLiteral("Copying \"a-long-file-name.txt\" to \"/opt/x\"") << 20
        << QStringLiteral("  3% Copying \"a-lon");
    QTest::newRow("escape sequences in a file name are defused")
        << 1 << QStringLiteral("Copying \"a\x1b[2J\rb\n\"") << 80
        << QStringLiteral("[-------------------]   1% Copying \"a?[2J?b?\"");
    QTest::newRow("out-of-range percentages are clamped")
        << 250 << QString() << 30 << QStringLiteral("100%");
}

void TestTextInstallPieces::terminalLine()
{
    QFETCH(int, percent);
    QFETCH(QString, status);
    QFETCH(int, width);
    QFETCH(QString, expected);

    const QString line = ProgressPrinter::terminalLine(percent, status, width);
    QCOMPARE(line, expected);
    QVERIFY(Console::columns(line) < width);
}

void TestTextInstallPieces::logLine_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("expected");

    QTest::newRow("a step") << -1 << QStringLiteral("Counting files")
                            << QStringLiteral("Counting files");
    QTest::newRow("a percentage") << 42 << QStringLiteral("Copying \"x\" to \"/d\"")
                                  << QStringLiteral(" 42% Copying \"x\" to \"/d\"");
    QTest::newRow("a file name with a line feed stays one line")
        << 9 << QStringLiteral("Copying \"two\nlines\" to \"/d\"")
        << QStringLiteral("  9% Copying \"two?lines\" to \"/d\"");
    QTest::newRow("a tab becomes a blank") << -1 << QStringLiteral("a\tb") << QStringLiteral("a b");
}

void TestTextInstallPieces::logLine()
{
    QFETCH(int, percent);
    QFETCH(QString, status);
    QFETCH(QString, expected);
    QCOMPARE(ProgressPrinter::logLine(percent, status), expected);
}

void TestTextInstallPieces::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("flags");

    const int run = CommandLine::Run;
    const int invalid = CommandLine::Invalid;
    const int install = CommandLine::Install;
    const QString none;
    QTest::newRow("nothing") << QStringList() << run << install << none << QString();
    QTest::newRow("all options and a directory")
        << QStringList{QStringLiteral("--yes"), QStringLiteral("/opt/z"),
                       QStringLiteral("--accept-licence"), QStringLiteral("--all-users"),
                       QStringLiteral("--no-desktop"), QStringLiteral("--no-post-install"),
                       QStringLiteral("--no-space-check")}
        << run << install << QStringLiteral("/opt/z") << QStringLiteral("lyadps");
    QTest::newRow("the later directory wins")
        << QStringList{QStringLiteral("/a"), QStringLiteral("/b")} << run << install
        << QStringLiteral("/b") << QString();
    QTest::newRow("an empty argument is a directory")
        << QStringList{QString(QLatin1String(""))} << run << install
        << QString(QLatin1String("")) << QString();
    QTest::newRow("after --, a dash starts a directory")
        << QStringList{QStringLiteral("--"), QStringLiteral("--uninstall")} << run << install
        << QStringLiteral("--uninstall") << QString();
    QTest::newRow("values after = and after a blank")
        << QStringList{QStringLiteral("--group=users"), QStringLiteral("--modulefiles"),
                       QStringLiteral("/m"), QStringLiteral("/opt/z")}
        << run << install << QStringLiteral("/opt/z") << QStringLiteral("g=users m=/m");
    QTest::newRow("options are case-sensitive")
        << QStringList{QStringLiteral("--YES")} << invalid << install << none << QString();
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << int(CommandLine::ShowHelp)
                          << install << none << QString();
    const char *const inspections[] = {"--version", "--info", "--list", "--check"};
    for (int i = 0; i < 4; ++i) {
        QTest::newRow(inspections[i]) << QStringList{QLatin1String(inspections[i])} << run
                                      << int(CommandLine::ShowVersion) + i << none << QString();
    }
    QTest::newRow("uninstall without asking, purging")
        << QStringList{QStringLiteral("--uninstall"), QStringLiteral("/opt/z"),
                       QStringLiteral("--yes"), QStringLiteral("--purge")}
        << run << int(CommandLine::Uninstall) << QStringLiteral("/opt/z") << QStringLiteral("yu");
    QTest::newRow("verify, listing what was added")
        << QStringList{QStringLiteral("--added"), QStringLiteral("--verify=/opt/z")} << run
        << int(CommandLine::Verify) << QStringLiteral("/opt/z") << QStringLiteral("A");
    QTest::newRow("two actions")
        << QStringList{QStringLiteral("--list"), QStringLiteral("--check")} << invalid << install
        << none << QString();
    QTest::newRow("--purge without --uninstall")
        << QStringList{QStringLiteral("--purge"), QStringLiteral("/opt/z")} << invalid << install
        << none << QString();
    QTest::newRow("an installing option with --verify")
        << QStringList{QStringLiteral("--verify"), QStringLiteral("/opt/z"),
                       QStringLiteral("--all-users")}
        << invalid << install << none << QString();
    QTest::newRow("a directory with --info")
        << QStringList{QStringLiteral("--info"), QStringLiteral("/opt/z")} << invalid << install
        << none << QString();
    QTest::newRow("--uninstall without its directory")
        << QStringList{QStringLiteral("--yes"), QStringLiteral("--uninstall")} << invalid
        << install << none << QString();
}

void TestTextInstallPieces::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, outcome);
    QFETCH(int, action);
    QFETCH(QString, directory);
    QFETCH(QString, flags);

    const CommandLine line(QStringList{QStringLiteral("textinstall")} + arguments);
    QVERIFY2(int(line.outcome()) == outcome, qPrintable(line.problem()));
    if (outcome != CommandLine::Run)
        return;
    QCOMPARE(int(line.action()), action);
    const QString given = action == CommandLine::Install ? line.installDirectory() : line.installation();
    QCOMPARE(given.isNull(), directory.isNull());
    QCOMPARE(given, directory);
    QString set;
    for (const auto &flag : {qMakePair('l', line.acceptLicence()), qMakePair('y', line.assumeYes()),
                             qMakePair('a', line.allUsers()), qMakePair('d', line.noDesktop()),
                             qMakePair('p', line.noPostInstall()),
                             qMakePair('s', line.noSpaceCheck()), qMakePair('u', line.purge()),
                             qMakePair('A', line.showAdded())}) {
        if (flag.second)
            set += QLatin1Char(flag.first);
    }
    if (!line.group().isNull())
        set += QStringLiteral("g=") + line.group();
    if (!line.moduleTree().isNull())
        set += QStringLiteral(" m=") + line.moduleTree();
    QCOMPARE(set, flags);
}

void TestTextInstallPieces::destinationRule_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("valid");

    QTest::newRow("an absolute path") << QStringLiteral("/opt/tools") << true;
    QTest::newRow("a relative word") << QStringLiteral("tools") << true;
    QTest::newRow("a no-break space counts as a character")
        << QString(QStringLiteral("/opt/my") + QChar(0x00a0) + QStringLiteral("tools")) << true;
    QTest::newRow("empty") << QString(QLatin1String("")) << false;
    QTest::newRow("a blank") << QStringLiteral("/opt/my tools") << false;
    QTest::newRow("a tab") << QStringLiteral("/opt/my\ttools") << false;
    QTest::newRow("a trailing line feed") << QStringLiteral("/opt/tools\n") << false;
    QTest::newRow("a carriage return") << QStringLiteral("/opt/tools\r") << false;
    QTest::newRow("a form feed") << QStringLiteral("/opt/\ftools") << false;
}

void TestTextInstallPieces::destinationRule()
{
    QFETCH(QString, path);
    QFETCH(bool, valid);
    QCOMPARE(DestinationChoice::isValid(path), valid);
}

ZARVO_TEST_MAIN_CORE(TestTextInstallPieces)
#include "tst_textinstall_pieces.moc"
