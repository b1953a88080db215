#ifndef ZARVO_TESTS_RECORDINGPROMPT_H
#define ZARVO_TESTS_RECORDINGPROMPT_H

#include "installer/engine/userprompt.h"

#include <QString>
#include <QVector>

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

    QVector<Box> boxes;
    QVector<Box> questions;
    // Runs while a box is "open", to see what happened before it.
    std::function<void()> onTell;
};

#endif
