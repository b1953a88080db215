// installrunner [SOURCE DESTINATION]: runs one installation with the real
// Installer, answering Yes to every question, and prints the reports in
// order, one a line in UTF-8 ("question\t...", "status\t...", "progress\t...",
// "error\t...", "finished", "cancelled"), then "end". Lets the tests install
// as another user or under another locale, which must be chosen before the
// process starts. Arguments are bytes in the locale's encoding, like the
// program's own command line; without arguments the paths come hex-encoded
// in ZARVO_RUNNER_SOURCE and ZARVO_RUNNER_DESTINATION. With
// ZARVO_RUNNER_ANSWER=no every question is answered No. SIGINT and SIGTERM
// cancel the installation as the text installer does. Exit status 0, or 3
// when the installation did not end within a minute.

#include "installer/engine/installer.h"
#include "tests/reliability/reliabilitysupport.h"
#include "textinstall/signalwatcher.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QByteArray source, destination;
    if (argc == 3) {
        source = argv[1];
        destination = argv[2];
    } else if (argc == 1) {
        source = QByteArray::fromHex(qgetenv("ZARVO_RUNNER_SOURCE"));
        destination = QByteArray::fromHex(qgetenv("ZARVO_RUNNER_DESTINATION"));
    } else {
        std::fprintf(stderr, "usage: installrunner [SOURCE DESTINATION]\n");
        return 2;
    }
    Reliability::ScriptedPrompt prompt;
    prompt.answer = qgetenv("ZARVO_RUNNER_ANSWER") != "no";
    Reliability::Reports reports;
    SignalWatcher watcher;
    const bool ended = Reliability::runInstallation(
        QFile::decodeName(source), QFile::decodeName(destination), &prompt, &reports, 60000,
        [&watcher](Installer &installer) {
            QObject::connect(&watcher, &SignalWatcher::interrupted, &installer, &Installer::cancel);
        });
    for (const QString &question : qAsConst(prompt.questions))
        std::printf("question\t%s\n", question.toUtf8().replace('\n', "\\n").constData());
    for (const QString &line : qAsConst(reports.log))
        std::printf("%s\n", line.toUtf8().replace('\n', "\\n").constData());
    std::printf("end\n");
    return ended ? 0 : 3;
}
