// Whether a display is there before Qt is asked to open it: Qt ends the
// process when its platform plugin cannot start, which a library must never
// do to its caller.
#pragma once

#include <string>

namespace orvo::dialogs {

// The Qt platform to start (as "-platform" takes it): the first entry of
// QT_QPA_PLATFORM, else xcb or wayland (the session's kind first), whose
// plugin is installed and, for xcb and wayland, whose display answers.
// False with the reasons when there is none.
bool ChoosePlatform(std::string& platform, std::string& why);

}  // namespace orvo::dialogs
