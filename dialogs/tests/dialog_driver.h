// Helpers of the dialog tests: the driver on the virtual scanner with the
// companion libraries in its system directory, and acting on the driver's
// modal dialog once it is shown, as an operator would.
#pragma once

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <functional>
#include <string>

#include "orvo/dialogs/control_id.h"

namespace dialogs_test {

// Links libK4TRRsrc.so and libK4TRQa.so of the build into `systemDir`.
void LinkCompanions(const std::string& systemDir);
void UnlinkCompanion(const std::string& systemDir, const std::string& name);

// Runs `act` on the application's modal dialog as soon as the event loop of
// the next dialog call runs. A dialog still open after `act` is closed with
// Escape, and a dialog that never shows up fails the test.
void OnDialog(std::function<void(QDialog&)> act);

// The control `id` of the dialog as a T (a failure when missing or another kind).
template <class T>
T* Control(QDialog& dialog, int id) {
    T* control = qobject_cast<T*>(orvo::dialogs::FindControl(&dialog, id));
    if (!control) ADD_FAILURE() << "no control " << id << " of the expected kind";
    return control;
}

void Type(QDialog& dialog, int id, const QString& text);
void Click(QDialog& dialog, int id);
// Drags the slider's handle to `value` and releases it.
void Drag(QDialog& dialog, int id, int value);
QString Text(QDialog& dialog, int id);

}  // namespace dialogs_test
