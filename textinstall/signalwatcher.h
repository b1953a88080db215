#ifndef ZARVO_TEXTINSTALL_SIGNALWATCHER_H
#define ZARVO_TEXTINSTALL_SIGNALWATCHER_H

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal on the thread that owns the
// watcher. The handler only writes the signal number into a pipe; the
// notifier reads it back in the event loop, so nothing else runs in signal
// context. Code that blocks outside the event loop (a question on the
// terminal, a pager) polls fd() itself and collects the signal with take().
// Only one watcher may exist at a time.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isValid() const { return m_readFd >= 0; }
    // Readable while a signal is waiting to be collected.
    int fd() const { return m_readFd; }
    // Collects every waiting signal, emits interrupted() for the last one and
    // returns its number; 0 when none was waiting.
    int take();
    // The last signal collected so far, 0 when none.
    int lastSignal() const { return m_lastSignal; }

signals:
    void interrupted(int signalNumber);

private:
    int m_readFd = -1;
    int m_writeFd = -1;
    int m_lastSignal = 0;
    QSocketNotifier *m_notifier = nullptr;
};

#endif
