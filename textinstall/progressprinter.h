#ifndef ZARVO_TEXTINSTALL_PROGRESSPRINTER_H
#define ZARVO_TEXTINSTALL_PROGRESSPRINTER_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class Console;

// Shows the installation's progress. On a terminal: one line redrawn in
// place with a bar, the percentage and the current status, cut to the
// terminal's width. Otherwise plain lines for a log: the steps before the
// copy starts, then one line for each new percentage.
class ProgressPrinter : public QObject
{
    Q_OBJECT

public:
    explicit ProgressPrinter(Console &console, QObject *parent = nullptr);

    // The in-place line for `width` columns; no percentage while `percent`
    // is negative.
    static QString terminalLine(int percent, const QString &status, int width);
    // A log line; no percentage while `percent` is negative.
    static QString logLine(int percent, const QString &status);

public slots:
    void setProgress(int percent);
    void setStatus(const QString &text);
    // A step of the after-work: always shown.
    void showStep(const QString &text);
    // Leaves the last state on screen and moves below it.
    void finish();

private:
    void draw();

    Console &m_console;
    int m_percent = -1;
    int m_loggedPercent = -1;
    int m_linesBeforeProgress = 0;
    QString m_status;
    bool m_undrawn = false;
    QElapsedTimer m_sinceDraw;
};

#endif
