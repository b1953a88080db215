#ifndef ZARVO_TESTS_TEXTINSTALL_PROGRAMRUN_H
#define ZARVO_TESTS_TEXTINSTALL_PROGRAMRUN_H

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// One run of the real text installer, either on a pseudo-terminal (standard
// input, output and error all on it) or on pipes. Every wait has a timeout;
// a program still running when the run object goes away is killed.
class ProgramRun
{
public:
    enum Mode { Pipes, Terminal };

    ProgramRun(Mode mode, const QString &workingDirectory, const QStringList &arguments,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    ~ProgramRun();
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    // Columns of the pseudo-terminal; set before start().
    void setTerminalWidth(int columns) { m_columns = columns; }
    // Another program than the text installer; set before start().
    void setProgram(const QString &program) { m_program = program; }
    // Sends standard output to a file instead, as `> file` does (Terminal only).
    void setOutputFile(const QString &path) { m_outputFile = path; }

    bool start();
    pid_t pid() const { return m_pid; }

    // Reads until `text` appears in the output after `from` (Terminal: the
    // terminal's output; Pipes: standard output or standard error).
    bool waitForOutput(const QByteArray &text, int timeoutMs, int from = 0);
    // Types a line on the terminal, or writes it to standard input.
    void send(const QByteArray &bytes);
    // Closes standard input (Pipes only).
    void closeInput();
    bool signal(int signalNumber);
    // Waits for the program to end; false on timeout (the program is then killed).
    bool finish(int timeoutMs);

    int exitStatus() const { return m_exitStatus; }
    // The terminal's whole output, or standard output.
    QByteArray output() const { return m_output; }
    // Standard error (Pipes only).
    QByteArray errorOutput() const { return m_error; }

private:
    bool readSome(int timeoutMs);
    void reap(bool block);

    Mode m_mode;
    QString m_workingDirectory;
    QStringList m_arguments;
    QProcessEnvironment m_environment;
    int m_columns = 100;
    QString m_outputFile;
    QString m_program;
    pid_t m_pid = -1;
    int m_terminalFd = -1;
    int m_inputFd = -1;
    int m_outputFd = -1;
    int m_errorFd = -1;
    int m_exitStatus = -1;
    bool m_reaped = false;
    QByteArray m_output;
    QByteArray m_error;
};

// The program under test.
QString textInstallProgram();

#endif
