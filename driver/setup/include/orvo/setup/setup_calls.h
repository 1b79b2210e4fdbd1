// The two dialog calls of the driver: the settings dialog for a profile and
// the QA dialog, with the results the exported functions return.
#pragma once

#include "orvo/setup/companion.h"

namespace orvo {

// Loads the profile (a section whose name differs only in letter case is the
// one edited), shows the settings dialog and stores the profile under the
// given name after OK or Cancel. 0; -2 before the driver has settled its
// paths; -9 when the companion library, its entry point or a display is
// missing (nothing written); -14 when the profile cannot be stored (a name
// that cannot be a section, or the settings file cannot be written).
int RunSetup(void* owner, const char* profile, DialogRunner& runner);

// Reads the QA block, shows the QA dialog and writes the block after OK.
// 0; -6 when the block cannot be read; -11 when the companion library, its
// entry point or a display is missing.
int RunSetupQa(void* owner, DialogRunner& runner);

// Whether a profile name can be stored as a section of OrvoScan.ini: not
// empty, no ']' or line break, no blank at either end.
bool StorableProfileName(const std::string& name);

}  // namespace orvo
