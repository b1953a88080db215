#ifndef ZARVO_TEXTINSTALL_CONSOLE_H
#define ZARVO_TEXTINSTALL_CONSOLE_H

#include <QByteArray>
#include <QString>

class SignalWatcher;

// The program's terminal: what is a terminal, how wide it is, the one status
// line that is redrawn in place, messages on standard error that must not
// tear that line, and answers typed on standard input.
class Console
{
public:
    enum ReadResult { Line, EndOfInput, Interrupted };

    // `watcher` may be null; when given, a signal ends a wait for input.
    explicit Console(SignalWatcher *watcher = nullptr);

    bool inputIsTerminal() const { return m_inputIsTerminal; }
    bool outputIsTerminal() const { return m_outputIsTerminal; }
    // Columns of the terminal on standard output; 80 when unknown.
    int width() const;

    // A line on standard output.
    void print(const QString &text);
    // Text for the person answering the questions: on standard output when
    // that is a terminal, else on standard error when that is one, so that
    // a redirected log does not swallow it.
    void printForReader(const QString &text);
    // A message on standard error, as it comes.
    void printError(const QString &text);
    // Replaces the in-place line on a terminal (text already cut to width).
    void setStatusLine(const QString &text);
    // Leaves the in-place line as it is and moves below it.
    void endStatusLine();
    bool hasStatusLine() const { return m_statusLineShown; }

    // Shows `question` and reads one line of the answer, without its end of
    // line. Waits for the user as long as it takes, unless a signal comes.
    ReadResult ask(const QString &question, QString *answer);

    // Makes text safe for a terminal: control characters (escape sequences,
    // carriage returns, line feeds) become '?' and tabs blanks. With
    // `keepLayout`, line feeds and tabs stay and form feeds break the line.
    static QString printable(const QString &text, bool keepLayout = false);
    // Columns that text takes on a terminal.
    static int columns(const QString &text);
    // The longest start of text that fits in `columns` columns.
    static QString cut(const QString &text, int columns);

private:
    void writeOut(const QByteArray &bytes);
    void writeForReader(const QByteArray &bytes);
    void clearStatusLine();
    void redrawStatusLine();

    SignalWatcher *m_watcher;
    bool m_inputIsTerminal;
    bool m_outputIsTerminal;
    int m_readerFd;
    QString m_statusLine;
    bool m_statusLineShown = false;
    QByteArray m_pendingInput;
};

#endif
