// OrvoScan.ini as anyone may have left it: the settings reader, a profile's
// load and the check of its values, and a write, on any bytes. Besides the
// sanitizers' findings: a value written reads back as written, and a write
// changes no other key a read finds.
#include <strings.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "orvo/core/settings.h"
#include "orvo/platform/profile.h"

namespace {

const std::string& SettingsFile() {
    static const std::string file = [] {
        char dir[] = "/tmp/orvo-settings-fuzz-XXXXXX";
        if (mkdtemp(dir) == nullptr) std::abort();
        setenv("TMPDIR", dir, 1);  // the rewrite journal's private directory
        return std::string(dir) + "/OrvoScan.ini";
    }();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace orvo::platform;
    const std::string& file = SettingsFile();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;

    const std::vector<std::string> sections = ProfileSectionNames(file);
    std::string whole, error;
    ReadProfileText(file, whole, &error);
    const std::string profile = sections.empty() ? std::string("Check") : sections.front();
    orvo::RefusedProfileValue(profile, file);
    orvo::Settings settings;
    orvo::LoadProfile(profile, file, settings);

    // A write of a plain value into the first section (or "Misc").
    const std::string section = sections.empty() ? std::string("Misc") : sections.front();
    const std::string other = ProfileString("Misc", "EndorserFormat", "-", 4096, file);
    if (strcasecmp(section.c_str(), "Misc") == 0) return 0;
    if (WriteProfileString(section, "ImageFileFormat", "2", file)) {
        if (ProfileString(section, "ImageFileFormat", "", 64, file) != "2") std::abort();
        if (ProfileString("Misc", "EndorserFormat", "-", 4096, file) != other) std::abort();
    }
    return 0;
}
