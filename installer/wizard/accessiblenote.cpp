#include "installer/wizard/accessiblenote.h"

#include <QAccessibleWidget>
#include <QLabel>

namespace {

class AccessibleNote : public QAccessibleWidget
{
public:
    explicit AccessibleNote(QLabel *label)
        : QAccessibleWidget(label, QAccessible::Notification)
    {
    }

    QString text(QAccessible::Text which) const override
    {
        if (which == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<QLabel *>(widget())->text();
        return QAccessibleWidget::text(which);
    }
};

QAccessibleInterface *noteInterface(const QString &, QObject *object)
{
    auto *label = qobject_cast<QLabel *>(object);
    if (label && label->property("accessibleNote").toBool())
        return new AccessibleNote(label);
    return nullptr;
}

} // namespace

void presentNotesAsNotifications()
{
    static const bool installed = (QAccessible::installFactory(noteInterface), true);
    Q_UNUSED(installed)
}
