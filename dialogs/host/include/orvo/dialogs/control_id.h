// Controls of a form are found by their `controlId` property: the id the
// dialog procedures use.
#pragma once

#include <QMap>

class QWidget;

namespace orvo::dialogs {

inline constexpr char kControlIdProperty[] = "controlId";

// Every control below `root` that carries an id, by id.
QMap<int, QWidget*> ControlsById(const QWidget* root);

// The control with `id` below `root`, or null.
QWidget* FindControl(const QWidget* root, int id);

}  // namespace orvo::dialogs
