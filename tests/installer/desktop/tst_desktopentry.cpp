#include "installer/desktop/desktopentry.h"
#include "installer/engine/installer.h"
#include "tests/installer/desktop/fakeinstallation.h"
#include "tests/installer/desktop/recordingprompt.h"
#include "tests/support/testenvironment.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

const QString program = QStringLiteral("/opt/corvane/zarvo/25.1.3/bin/corvane-zarvo");

// Reads an Exec= value back the way a desktop does: the escapes of a string
// value first, then the quoting of the command line. Returns the arguments.
QStringList execArguments(const QString &value)
{
    QString unescaped;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[++i];
            if (next == QLatin1Char('s')) unescaped += QLatin1Char(' ');
            else if (next == QLatin1Char('n')) unescaped += QLatin1Char('\n');
            else if (next == QLatin1Char('t')) unescaped += QLatin1Char('\t');
            else if (next == QLatin1Char('r')) unescaped += QLatin1Char('\r');
            else if (next == QLatin1Char('\\')) unescaped += QLatin1Char('\\');
            else return { QStringLiteral("<bad string escape>") };
        } else {
            unescaped += value[i];
        }
    }
    // Field codes are expanded over the whole line before it is split.
    QString expanded;
    for (int i = 0; i < unescaped.size(); ++i) {
        if (unescaped[i] == QLatin1Char('%')) {
            if (i + 1 >= unescaped.size() || unescaped[++i] != QLatin1Char('%'))
                return { QStringLiteral("<field code>") };
        }
        expanded += unescaped[i];
    }
    unescaped = expanded;
    QStringList arguments;
    QString current;
    bool inArgument = false;
    for (int i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (c == QLatin1Char('"')) {
            inArgument = true;
            for (++i; i < unescaped.size() && unescaped[i] != QLatin1Char('"'); ++i) {
                if (unescaped[i] == QLatin1Char('\\') && i + 1 < unescaped.size())
                    ++i;
                current += unescaped[i];
            }
            if (i >= unescaped.size())
                return { QStringLiteral("<unterminated quote>") };
        } else if (c == QLatin1Char(' ')) {
            if (inArgument)
                arguments.append(current);
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.append(current);
    return arguments;
}

} // namespace

class TestDesktopEntry : public QObject
{
    Q_OBJECT

private slots:
    void rewrite_data();
    void rewrite();
    void programPath_data();
    void programPath();
    void file_data();
    void file();
    void missingFile();
    void readOnlyFile();
};

void TestDesktopEntry::rewrite_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    const QString exec = QStringLiteral("Exec=") + program + QStringLiteral(" -gui");
    QTest::newRow("exec with arguments and field codes")
            << "Exec=pesk --open %F\n" << exec + "\n";
    QTest::newRow("try exec names the program alone")
            << "TryExec=pesk\nExec=pesk\n" << "TryExec=" + program + "\n" + exec + "\n";
    QTest::newRow("several exec lines in action groups")
            << "[Desktop Entry]\nExec=a\n[Desktop Action New]\nExec=b %u\n"
            << "[Desktop Entry]\n" + exec + "\n[Desktop Action New]\n" + exec + "\n";
    QTest::newRow("name and generic name get the version")
            << "Name=Corvane Zarvo\nGenericName=Cluster Tools\n"
            << "Name=Corvane Zarvo 25.1.3\nGenericName=Cluster Tools 25.1.3\n";
    QTest::newRow("localized name stays")
            << "Name[de]=Cluster-Werkzeuge\n" << "Name[de]=Cluster-Werkzeuge\n";
    QTest::newRow("name showing the version already")
            << "Name=Corvane Zarvo 25.1.3\n" << "Name=Corvane Zarvo 25.1.3\n";
    QTest::newRow("name with an older version")
            << "Name=Corvane Zarvo 25.1.2\n" << "Name=Corvane Zarvo 25.1.2 25.1.3\n";
    QTest::newRow("version glued to the name")
            << "Name=Zarvo25.1.3\n" << "Name=Zarvo25.1.3 25.1.3\n";
    QTest::newRow("last line without line feed") << "Name=Zarvo" << "Name=Zarvo 25.1.3";
    QTest::newRow("empty entry") << "" << "";
    QTest::newRow("neither exec nor name")
            << "[Desktop Entry]\nType=Application\r\nIcon=corvane-zarvo\n"
            << "[Desktop Entry]\nType=Application\r\nIcon=corvane-zarvo\n";
    QTest::newRow("non-ASCII text kept")
            << "Comment=Débogueur für Cluster\nName=Zarvo\n"
            << "Comment=Débogueur für Cluster\nName=Zarvo 25.1.3\n";
}

void TestDesktopEntry::rewrite()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    const QString once = rewrittenDesktopEntry(text, program, QStringLiteral("25.1.3"));
    QCOMPARE(once, expected);
    // The console branch may run any number of times on the same installation.
    QCOMPARE(rewrittenDesktopEntry(once, program, QStringLiteral("25.1.3")), once);
}

void TestDesktopEntry::programPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("execValue");

    QTest::newRow("plain path unquoted") << program << program;
    QTest::newRow("dash, dot, plus, at, comma unquoted")
            << "/opt/a-b.c+d@e,f/bin/corvane-zarvo" << "/opt/a-b.c+d@e,f/bin/corvane-zarvo";
    QTest::newRow("percent doubled, unquoted") << "/opt/100%/bin/z" << "/opt/100%%/bin/z";
    QTest::newRow("blank") << "/opt/my tools/bin/z" << "\"/opt/my tools/bin/z\"";
    QTest::newRow("dollar") << "/opt/$HOME/bin/z" << "\"/opt/\\\\$HOME/bin/z\"";
    QTest::newRow("double quote") << "/opt/a\"b/bin/z" << "\"/opt/a\\\\\"b/bin/z\"";
    QTest::newRow("single quote") << "/opt/it's/bin/z" << "\"/opt/it's/bin/z\"";
    QTest::newRow("backslash and digit") << "/opt/a\\1b/bin/z" << "\"/opt/a\\\\\\\\1b/bin/z\"";
    QTest::newRow("ampersand, semicolon, parentheses")
            << "/opt/a&b;(c)/bin/z" << "\"/opt/a&b;(c)/bin/z\"";
    QTest::newRow("backtick and percent")
            << "/opt/`x`%/bin/z" << "\"/opt/\\\\`x\\\\`%%/bin/z\"";
    QTest::newRow("tilde, hash, star, question mark, angle brackets, bar")
            << "/opt/~#*?<>|/bin/z" << "\"/opt/~#*?<>|/bin/z\"";
}

void TestDesktopEntry::programPath()
{
    QFETCH(QString, path);
    QFETCH(QString, execValue);

    const QString text = rewrittenDesktopEntry(QStringLiteral("TryExec=x\nExec=x %F\n"), path,
                                               QStringLiteral("25.1.3"));
    const QStringList lines = text.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(1), QStringLiteral("Exec=") + execValue + QStringLiteral(" -gui"));
    const QStringList arguments = execArguments(lines.value(1).mid(5));
    QCOMPARE(arguments, QStringList({ path, QStringLiteral("-gui") }));
    // TryExec is a plain string value: no command-line quoting.
    QString tryExec = path;
    tryExec.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    QCOMPARE(lines.value(0), QStringLiteral("TryExec=") + tryExec);
}

void TestDesktopEntry::file_data()
{
    QTest::addColumn<QString>("dirName");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("shipped entry") << "inst"
            << QByteArray("[Desktop Entry]\nType=Application\nName=Corvane Zarvo 25.1.3\n"
                          "GenericName=Cluster Tools 25.1.3\n"
                          "Comment=Debug and tune programs on a cluster\n"
                          "TryExec=@/bin/corvane-zarvo\nExec=@/bin/corvane-zarvo -gui\n"
                          "Icon=corvane-zarvo\nCategories=Development;Debugger;\n");
    QTest::newRow("directory with a blank") << "my inst"
            << QByteArray("[Desktop Entry]\nType=Application\nName=Corvane Zarvo 25.1.3\n"
                          "GenericName=Cluster Tools 25.1.3\n"
                          "Comment=Debug and tune programs on a cluster\n"
                          "TryExec=@/bin/corvane-zarvo\nExec=\"@/bin/corvane-zarvo\" -gui\n"
                          "Icon=corvane-zarvo\nCategories=Development;Debugger;\n");
}

void TestDesktopEntry::file()
{
    QFETCH(QString, dirName);
    QFETCH(QByteArray, expected);

    FakeInstallation inst;
    inst.setDirName(dirName);
    QVERIFY(inst.addIcons());
    QVERIFY(QFile::setPermissions(inst.entryPath(), QFile::ReadOwner | QFile::WriteOwner
                                                            | QFile::ReadGroup));
    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);

    rewriteDesktopEntry(installer, inst.dir(), QStringLiteral("corvane-zarvo.desktop"),
                        QStringLiteral("corvane-zarvo"));
    expected.replace('@', QFile::encodeName(inst.dir()));
    QCOMPARE(inst.entry(), expected);
    QCOMPARE(prompt.boxes.size(), 0);
    QCOMPARE(QFileInfo(inst.entryPath()).permissions(),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                     | QFile::ReadGroup);

    rewriteDesktopEntry(installer, inst.dir(), QStringLiteral("corvane-zarvo.desktop"),
                        QStringLiteral("corvane-zarvo"));
    QVERIFY2(inst.entry() == expected, "a second run changed the entry: " + inst.entry());

    // An entry kept elsewhere and linked into the installation stays a link.
    const QString target = inst.tmpPath() + QStringLiteral("/shared.desktop");
    QVERIFY(QFile::rename(inst.entryPath(), target));
    QVERIFY(QFile::link(target, inst.entryPath()));
    rewriteDesktopEntry(installer, inst.dir(), QStringLiteral("corvane-zarvo.desktop"),
                        QStringLiteral("corvane-zarvo"));
    QVERIFY(QFileInfo(inst.entryPath()).isSymLink());
    QCOMPARE(inst.entry(), expected);
}

void TestDesktopEntry::missingFile()
{
    FakeInstallation inst;
    RecordingPrompt prompt;
    QObject window;
    Installer installer(&window, &prompt);

    rewriteDesktopEntry(installer, inst.dir(), QStringLiteral("corvane-zarvo.desktop"),
                        QStringLiteral("corvane-zarvo"));
    QCOMPARE(prompt.boxes.size(), 1);
    QCOMPARE(prompt.boxes[0].owner, &window);
    QCOMPARE(prompt.boxes[0].severity, UserPrompt::Critical);
    QCOMPARE(prompt.boxes[0].title, QStringLiteral("Installation Error"));
    QCOMPARE(prompt.boxes[0].text,
             QStringLiteral("Could not open \"%1\" for reading.").arg(inst.entryPath()));
    QVERIFY(!QFileInfo::exists(inst.entryPath()));
}

void TestDesktopEntry::readOnlyFile()
{
    if (geteuid() == 0)
        QSKIP("root may write any file");
    FakeInstallation inst;
    QVERIFY(inst.addIcons());
    QVERIFY(QFile::setPermissions(inst.entryPath(), QFile::ReadOwner));
    RecordingPrompt prompt;
    Installer installer(nullptr, &prompt);

    rewriteDesktopEntry(installer, inst.dir(), QStringLiteral("corvane-zarvo.desktop"),
                        QStringLiteral("corvane-zarvo"));
    QCOMPARE(inst.entry(), FakeInstallation::shippedEntry());
    QCOMPARE(prompt.boxes.size(), 0);
}

ZARVO_TEST_MAIN_CORE(TestDesktopEntry)
#include "tst_desktopentry.moc"
