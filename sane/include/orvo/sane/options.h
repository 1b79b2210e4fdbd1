// The backend's options: one table of descriptors built in one place, one
// function that gets and sets them by index, and the parameters a scan with
// the current values gives (known before a scan starts).
#pragma once

#include <sane/sane.h>

#include <functional>
#include <string>
#include <vector>

#include "orvo/sane/scan_settings.h"

namespace orvo::sane {

enum OptionIndex {
    kOptNumOptions = 0,
    kOptGroupStandard,
    kOptProfile,
    kOptSource,
    kOptMode,
    kOptResolution,
    kOptGroupGeometry,
    kOptTlX,
    kOptTlY,
    kOptBrX,
    kOptBrY,
    kOptPageWidth,
    kOptPageHeight,
    kOptAutoLength,
    kOptGroupEnhancement,
    kOptThreshold,
    kOptGroupCheque,
    kOptMicr,
    kOptSide,
    kOptDoubleFeed,
    kOptEndorser,
    kOptEndorserValue,
    kOptEndorserString,
    kOptCount
};

// Longest MICR option value: the flag, 42 characters and the terminating zero.
inline constexpr int kMicrValueSize = 48;

// What the frontend gets of every page the scanner scans: the columns left of
// the scan area and the rows above it are dropped; with the whole cheque
// length, a page longer than the longest document is ended there.
struct FrameCrop {
    int leftPixels = 0;
    int topRows = 0;
    int longestRows = 0;  // rows from the leading edge; 0: no limit
};

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
    // The profile values the scanner scans with: the strip up to the right
    // edge of the scan area, and (auto-length off) the length up to its
    // bottom edge; ScanLines1 0 scans every cheque to its own length.
    ScanSettings settings() const;
    // What is dropped of every page of those settings.
    FrameCrop Crop() const;
    SANE_Parameters Parameters() const;

    // The read-only MICR value: "" or the read-error flag ('0' read, '1' with
    // unreadable characters) followed by the MICR characters.
    void SetMicr(const std::string& value);
    const std::string& micr() const { return micr_; }
    // The read-only side of the frame delivered: false the front, true the rear.
    void SetRear(bool rear) { rear_ = rear; }

  private:
    void InitOptions();
    void SelectProfile(const std::string& name);
    void UpdateActivity();
    void ClampToPage();
    SANE_Status Get(SANE_Int index, void* value) const;
    SANE_Status Set(SANE_Int index, void* value, SANE_Int* info);

    std::vector<std::string> profiles_;
    std::vector<SANE_String_Const> profileList_;
    ProfileReader reader_;
    std::string profile_;
    ScanSettings settings_;
    std::string micr_;
    bool rear_ = false;
    // settings_.scanWidth is the right edge, settings_.scanLines the bottom
    // edge (never 0); the top-left corner and the document size in mm.
    bool autoLength_ = true;
    SANE_Fixed tlX_ = 0;
    SANE_Fixed tlY_ = 0;
    SANE_Fixed pageWidth_ = 0;
    SANE_Fixed pageHeight_ = 0;
    SANE_Option_Descriptor descriptors_[kOptCount] = {};
    SANE_Range tlXRange_{};
    SANE_Range tlYRange_{};
    SANE_Range widthRange_{};
    SANE_Range lengthRange_{};
    SANE_Range pageWidthRange_{};
    SANE_Range pageHeightRange_{};
    SANE_Range thresholdRange_{};
    SANE_Range serialRange_{};
};

}  // namespace orvo::sane
