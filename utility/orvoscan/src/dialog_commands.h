// The commands of orvoscan that open the driver's own dialogs: the scanner
// settings of a profile, and the scanner's QA values.
#pragma once

#include "console.h"

namespace orvoscan {

// `setup --profile NAME`: edits (or creates) the profile in the settings
// dialog; OK and Cancel both store it.
int RunSetupCommand(int argc, char** argv, Console& console);

// `qa dialog`: shows the scanner's QA values; OK writes them to the scanner.
int QaDialogCommand(int argc, char** argv, Console& console);

// Whether a graphical display can be asked for: DISPLAY, WAYLAND_DISPLAY or
// QT_QPA_PLATFORM is set.
bool DisplayConfigured();

}  // namespace orvoscan
