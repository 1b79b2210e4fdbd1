// A visible keyboard focus in a window: a ring in the highlight colour
// around whichever of its controls has the focus (buttons, check boxes, edits,
// the page list, the image views), drawn by one QFocusFrame that follows the
// focus. The platform style marks focus faintly or not at all on some of them.
#pragma once

class QWidget;

namespace orvo::viewer {

// Installs the ring in `window` (for the window's lifetime).
void InstallFocusRing(QWidget* window);

}  // namespace orvo::viewer
