#include "orvo/dialogs/control_id.h"

#include <QVariant>
#include <QWidget>

namespace orvo::dialogs {

QMap<int, QWidget*> ControlsById(const QWidget* root) {
    QMap<int, QWidget*> controls;
    if (!root) return controls;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QVariant id = w->property(kControlIdProperty);
        bool ok = false;
        const int value = id.toInt(&ok);
        if (id.isValid() && ok) controls.insert(value, w);
    }
    return controls;
}

QWidget* FindControl(const QWidget* root, int id) {
    return ControlsById(root).value(id, nullptr);
}

}  // namespace orvo::dialogs
