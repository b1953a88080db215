#include "installer/wizard/messageboxprompt.h"

#include <QMessageBox>
#include <QWidget>

bool MessageBoxPrompt::askYesNo(QObject *owner, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                    qobject_cast<QWidget *>(owner));
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void MessageBoxPrompt::tell(QObject *owner, Severity severity, const QString &title,
                            const QString &text)
{
    const QMessageBox::Icon icon =
        severity == Critical ? QMessageBox::Critical : QMessageBox::Warning;
    QMessageBox box(icon, title, text, QMessageBox::Ok, qobject_cast<QWidget *>(owner));
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
