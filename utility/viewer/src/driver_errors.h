// ShowDriverError: a driver result code as the operator sees it, in a
// critical message box with caption "orvo_viewer" and an OK button. The texts
// are the scan-run rules' own (orvo::scanrun::DriverErrorText).
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

class QWidget;

namespace orvo::viewer {

// The box's text for a code; -100 adds a line per set device error bit.
QString DriverErrorMessage(int code, uint32_t deviceError);

// Shows the box for every code except 0 and -3 (the normal end of a batch);
// an unknown code gives a box with an empty text. `deviceError` is asked
// only for -100.
void ShowDriverError(QWidget* parent, int code, const std::function<uint32_t()>& deviceError);

}  // namespace orvo::viewer
