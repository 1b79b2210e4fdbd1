// The backend's options: one table of descriptors built in one place, one
// function that gets and sets them by index, and the parameters a scan with
// the current values gives (known before a scan starts).
#pragma once

#include <sane/sane.h>

#include <functional>
#include <string>
#include <vector>

#include "scan_settings.h"

namespace orvo::sane {

enum OptionIndex {
    kOptNumOptions = 0,
    kOptGroupStandard,
    kOptProfile,
    kOptSource,
    kOptMode,
    kOptResolution,
    kOptGroupGeometry,
    kOptBrX,
    kOptAutoLength,
    kOptBrY,
    kOptGroupEnhancement,
    kOptThreshold,
    kOptGroupCheque,
    kOptMicr,
    kOptCount
};

// Longest MICR option value: the flag, 42 characters and the terminating zero.
inline constexpr int kMicrValueSize = 48;

class Options {
  public:
    // The settings of a profile, read from the settings file.
    using ProfileReader = std::function<ScanSettings(const std::string& profile)>;

    // `profiles` is the list offered (never empty); `initial` is chosen when
    // it is in the list, otherwise the first profile.
    Options(std::vector<std::string> profiles, const std::string& initial, ProfileReader reader);
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;

    const SANE_Option_Descriptor* Descriptor(SANE_Int index) const;
    // sane_control_option without the device-state checks.
    SANE_Status Control(SANE_Int index, SANE_Action action, void* value, SANE_Int* info);

    const std::string& profile() const { return profile_; }
    const ScanSettings& settings() const { return settings_; }
    SANE_Parameters Parameters() const;

    // The read-only MICR value: "" or the read-error flag ('0' read, '1' with
    // unreadable characters) followed by the MICR characters.
    void SetMicr(const std::string& value);
    const std::string& micr() const { return micr_; }

  private:
    void InitOptions();
    void SelectProfile(const std::string& name);
    void UpdateActivity();
    SANE_Status Get(SANE_Int index, void* value) const;
    SANE_Status Set(SANE_Int index, void* value, SANE_Int* info);

    std::vector<std::string> profiles_;
    std::vector<SANE_String_Const> profileList_;
    ProfileReader reader_;
    std::string profile_;
    ScanSettings settings_;
    std::string micr_;
    int lastLines_ = 0;  // the scan length while every cheque's own length is scanned
    SANE_Option_Descriptor descriptors_[kOptCount] = {};
    SANE_Range widthRange_{};
    SANE_Range lengthRange_{};
    SANE_Range thresholdRange_{};
};

}  // namespace orvo::sane
