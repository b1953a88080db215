#ifndef ZARVO_TESTS_WIZARDDRIVER_H
#define ZARVO_TESTS_WIZARDDRIVER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class InstallerWizard;
class QAbstractButton;

// What a test saw of one modal message box before it answered it.
struct SeenBox
{
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget *parent = nullptr;
};

// Answers every modal message box that opens while it lives, with the given
// button (or, when the box has no such button, by closing it), and records
// what the box showed. Other modal dialogs are rejected.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok);

    void setAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }
    const QList<SeenBox> &seen() const { return m_seen; }
    QString describe() const;
    // Whether a box was ever open over another one.
    bool sawNestedBoxes() const { return m_nested; }

private:
    void poll();

    QMessageBox::StandardButton m_answer;
    QList<SeenBox> m_seen;
    bool m_nested = false;
    QTimer timer;
};

namespace WizardDriver {

// An unpacked installation tree: licence texts, bin/pesk, a few files and
// doc/RELEASE-NOTES; `extraFiles` more small files in a subdirectory.
bool makeTree(const QString &dir, int extraFiles = 0);
// The same installation packed as zarvo.tgz beside the licence texts.
bool makeArchiveSource(const QString &dir);
bool writeFile(const QString &path, const QByteArray &content);

// The offscreen platform warns about every window it sizes; drop just that.
void quietPlatformWarnings();

// Presses Next (or Install) until page `id` is current, accepting the licence
// on the way; false when the wizard does not get there. The wizard must be shown.
bool goTo(InstallerWizard &wizard, int id);

QAbstractButton *button(InstallerWizard &wizard, int which);

} // namespace WizardDriver

#endif
