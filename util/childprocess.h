#ifndef ZARVO_UTIL_CHILDPROCESS_H
#define ZARVO_UTIL_CHILDPROCESS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// How one program that the installer started ended.
struct ChildRun
{
    enum End { Exited, NotStarted, Crashed, TimedOut };

    End end = NotStarted;
    // The program's own exit code, once it Exited.
    int exitCode = 0;
    // Its standard output, when that was captured.
    QByteArray output;

    bool succeeded() const { return end == Exited && exitCode == 0; }
    // The exit code, or -2 when the program could not be started and -1 when
    // it crashed or was stopped at its time limit.
    int status() const;
};

enum class ChildOutput { Forwarded, Captured };

// Runs every program the installer starts (ldd, the freedesktop.org tools,
// the post-install script): by program and argument list, never through a
// shell, with the installer's environment and working directory, and with
// standard input from /dev/null, so that a child that reads it gets the end
// at once instead of waiting for the installer for good. Standard output is
// passed on or captured; standard error is passed on, except for a captured
// run, where it is dropped. With a time limit (milliseconds; negative: none)
// the program and every process it started are stopped at the limit.
ChildRun runChild(const QString &program, const QStringList &arguments, ChildOutput output,
                  int timeLimitMs);

// The limit for the tools that must never hold the installer up for good
// (ldd, the freedesktop.org tools): three minutes. Tests shorten it.
int toolTimeLimitMs();
void setToolTimeLimitMs(int milliseconds);

#endif
