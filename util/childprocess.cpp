#include "util/childprocess.h"

#include <QProcess>
#include <QStandardPaths>

#include <atomic>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

// A program that cannot even be started within this time is taken as one
// that cannot be started.
const int startLimitMs = 30000;
// After the whole group was killed, the end comes at once; this bounds a
// child stuck in the kernel.
const int killedEndMs = 5000;

std::atomic<int> toolLimitMs{3 * 60 * 1000};

// A tool is often a shell script that starts programs of its own: in a
// process group of its own, all of them are stopped together at the limit.
class GroupedProcess : public QProcess
{
protected:
    void setupChildProcess() override { ::setpgid(0, 0); }
};

} // namespace

int ChildRun::status() const
{
    switch (end) {
    case Exited:
        return exitCode;
    case NotStarted:
        return -2;
    case Crashed:
    case TimedOut:
        break;
    }
    return -1;
}

ChildRun runChild(const QString &program, const QStringList &arguments, ChildOutput output,
                  int timeLimitMs)
{
    const bool limited = timeLimitMs >= 0;
    // Without a limit the child stays in the installer's process group, so
    // that Ctrl-C on the terminal reaches it as before.
    const std::unique_ptr<QProcess> process(limited ? new GroupedProcess : new QProcess);
    process->setStandardInputFile(QProcess::nullDevice());
    if (output == ChildOutput::Captured)
        process->setStandardErrorFile(QProcess::nullDevice());
    else
        process->setProcessChannelMode(QProcess::ForwardedChannels);

    ChildRun run;
    // A tool missing from the search path (xdg-mime on a server) is known
    // without starting a process for it.
    if (!program.contains(QLatin1Char('/')) && QStandardPaths::findExecutable(program).isEmpty())
        return run;
    process->start(program, arguments, QIODevice::ReadOnly);
    if (!process->waitForStarted(startLimitMs))
        return run;

    if (!process->waitForFinished(limited ? timeLimitMs : -1)
        && process->state() != QProcess::NotRunning) {
        ::kill(-pid_t(process->processId()), SIGKILL);
        process->waitForFinished(killedEndMs);
        run.end = ChildRun::TimedOut;
        return run;
    }
    if (process->exitStatus() == QProcess::CrashExit) {
        run.end = ChildRun::Crashed;
        return run;
    }
    run.end = ChildRun::Exited;
    run.exitCode = process->exitCode();
    if (output == ChildOutput::Captured)
        run.output = process->readAllStandardOutput();
    return run;
}

int toolTimeLimitMs()
{
    return toolLimitMs.load();
}

void setToolTimeLimitMs(int milliseconds)
{
    toolLimitMs.store(milliseconds);
}
