#ifndef ZARVO_TESTS_RECORDINGPROMPT_H
#define ZARVO_TESTS_RECORDINGPROMPT_H

#include "installer/engine/userprompt.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

// Answers every box at once and keeps what it was shown.
class RecordingPrompt : public UserPrompt
{
public:
    struct Box
    {
        QObject *owner;
        Severity severity;
        QString title;
        QString text;
    };

    bool askYesNo(QObject *owner, const QString &title, const QString &text) override
    {
        questions.append({ owner, Warning, title, text });
        return false;
    }
    void tell(QObject *owner, Severity severity, const QString &title,
              const QString &text) override
    {
        boxes.append({ owner, severity, title, text });
        if (onTell)
            onTell();
    }

    // "title: text" of every box, one a line.
    QString shown() const
    {
        QStringList lines;
        for (const Box &box : boxes)
            lines << box.title + QStringLiteral(": ") + box.text;
        return lines.join(QLatin1Char('\n'));
    }

    QVector<Box> boxes;
    QVector<Box> questions;
    // Runs while a box is "open", to see what happened before it.
    std::function<void()> onTell;
};

#endif
