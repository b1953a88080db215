#include "textinstall/pager.h"

#include "textinstall/signalwatcher.h"

#include <QProcess>

#include <csignal>

Pager::Result Pager::show(const QString &text, SignalWatcher *watcher)
{
    QStringList command = QProcess::splitCommand(qEnvironmentVariable("PAGER"));
    if (command.isEmpty())
        return NotAvailable;
    const QString program = command.takeFirst();

    QProcess pager;
    pager.setProcessChannelMode(QProcess::ForwardedChannels);
    pager.start(program, command);
    if (!pager.waitForStarted(-1))
        return NotAvailable;
    pager.write(text.toLocal8Bit());
    pager.closeWriteChannel();

    // The user reads as long as they like; only a termination request cuts that short.
    while (!pager.waitForFinished(200)) {
        if (pager.state() == QProcess::NotRunning)
            break;
        if (watcher && watcher->take() == SIGTERM) {
            pager.kill();
            pager.waitForFinished(5000);
            return Interrupted;
        }
    }
    if (watcher && watcher->take() == SIGTERM)
        return Interrupted;
    return Shown;
}
