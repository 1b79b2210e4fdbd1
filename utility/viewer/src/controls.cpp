#include "controls.h"

namespace orvo::viewer {

QWidget* FindControl(const QWidget* form, int id) {
    if (form == nullptr) return nullptr;
    const auto children = form->findChildren<QWidget*>();
    for (QWidget* child : children) {
        const QVariant value = child->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id) return child;
    }
    return nullptr;
}

}  // namespace orvo::viewer
