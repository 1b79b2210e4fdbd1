#include "orvo/setup/setup_calls.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "orvo/core/driver_state.h"
#include "orvo/core/trace.h"
#include "orvo/platform/profile.h"
#include "orvo/setup/qa.h"
#include "orvo/setup/qa_dialog.h"
#include "orvo/setup/setup_dialog.h"
#include "orvoscan.h"

namespace orvo {

namespace {

// Dialog failures go to the trace log.txt: the step, why, and the result.
void TraceFailure(const char* step, const std::string& why, int result) {
    Trace(TraceFile::Log, 0, (std::string(step) + ": " + why).c_str(), result);
}

// The section the dialog edits: the profile's own, else one whose name
// differs only in letter case (the one the store will write to), else the
// name itself (the load then falls back to "Default").
std::string SectionToEdit(const std::string& profile, const std::string& file) {
    const std::vector<std::string> names = platform::ProfileSectionNames(file);
    for (const std::string& n : names) {
        if (n == profile) return n;
    }
    for (const std::string& n : names) {
        if (strcasecmp(n.c_str(), profile.c_str()) == 0) return n;
    }
    return profile;
}

// An existing settings file (or the file its link leads to) must be readable
// and writable; its directory need not be, the file is then rewritten in
// place. A new file needs a writable directory.
bool SettingsWritable(const std::string& file) {
    if (access(file.c_str(), F_OK) == 0) return access(file.c_str(), R_OK | W_OK) == 0;
    struct stat st{};
    if (lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return true;  // the store tells
    const std::size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    return access(dir.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

bool StorableProfileName(const std::string& name) {
    if (name.empty()) return false;
    if (name.find_first_of("]\r\n") != std::string::npos) return false;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return !blank(name.front()) && !blank(name.back());
}

int RunSetup(void* owner, const char* profile, DialogRunner& runner) {
    DriverState& state = State();
    const std::string name = profile ? profile : "";
    std::string why;
    if (state.settingsPath.empty()) {
        TraceFailure("Setup", "the driver has not been started", ORVOSCAN_ERR_DRIVER);
        return ORVOSCAN_ERR_DRIVER;
    }
    if (!runner.Load(why)) {
        TraceFailure("Setup", why, ORVOSCAN_ERR_RESOURCE);
        return ORVOSCAN_ERR_RESOURCE;
    }
    if (!StorableProfileName(name)) {
        TraceFailure("Setup", "\"" + name + "\" cannot be a profile name", ORVOSCAN_ERR_SETTINGS);
        return ORVOSCAN_ERR_SETTINGS;
    }
    if (!SettingsWritable(state.settingsPath)) {
        TraceFailure("Setup", state.settingsPath + ": " + std::strerror(errno),
                     ORVOSCAN_ERR_SETTINGS);
        return ORVOSCAN_ERR_SETTINGS;
    }
    if (!runner.CanShow(kSetupTemplate, owner, why)) {
        TraceFailure("Setup", why, ORVOSCAN_ERR_RESOURCE);
        return ORVOSCAN_ERR_RESOURCE;
    }

    const Settings before = state.settings;
    LoadProfile(SectionToEdit(name, state.settingsPath), state.settingsPath, state.settings);
    // What the dialog starts from: only what differs from it is written over
    // a value the file holds, so another program's change to the rest stays.
    const Settings loaded = state.settings;
    if (state.unstoredImageFormat >= 0) state.settings.ImageFileFormat = state.unstoredImageFormat;
    SetupDialog dialog(state.settings, name);
    if (runner.Run(kSetupTemplate, owner, dialog, why) < 0) {
        state.settings = before;
        TraceFailure("Setup", why, ORVOSCAN_ERR_RESOURCE);
        return ORVOSCAN_ERR_RESOURCE;
    }
    // OK stores the operator's values, Cancel the loaded ones.
    if (!StoreProfile(name, state.settingsPath, state.settings, &loaded)) {
        TraceFailure("Setup", state.settingsPath + ": not written", ORVOSCAN_ERR_SETTINGS);
        return ORVOSCAN_ERR_SETTINGS;
    }
    state.unstoredImageFormat = -1;  // the file holds the format now
    return ORVOSCAN_OK;
}

int RunSetupQa(void* owner, DialogRunner& runner) {
    QaSession& qa = Qa();
    uint8_t block[12];
    if (QaRead(block) != 0) return ORVOSCAN_ERR_NO_SCSI;
    std::memcpy(qa.current, block, sizeof qa.current);

    std::string why;
    if (!runner.Load(why) || !runner.CanShow(kQaTemplate, owner, why)) {
        TraceFailure("Setup_Qa", why, ORVOSCAN_ERR_QA_LIBRARY);
        return ORVOSCAN_ERR_QA_LIBRARY;
    }
    // Only an OK in this dialog asks for the write.
    qa.saveRequested = false;
    QaDialog dialog(qa, QaAction);
    if (runner.Run(kQaTemplate, owner, dialog, why) < 0) {
        TraceFailure("Setup_Qa", why, ORVOSCAN_ERR_QA_LIBRARY);
        return ORVOSCAN_ERR_QA_LIBRARY;
    }
    if (qa.saveRequested) {
        // Not reported to the caller; the trace keeps it.
        if (QaWrite(qa.current) != 0) TraceFailure("Setup_Qa", "QA write failed", 0);
    }
    return ORVOSCAN_OK;
}

}  // namespace orvo
