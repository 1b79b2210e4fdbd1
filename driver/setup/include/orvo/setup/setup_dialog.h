// The scanner settings dialog (template 103): shows one profile's settings,
// keeps the operator's choices in working copies and copies them into the
// current settings on OK.
#pragma once

#include <string>

#include "orvo/core/settings.h"
#include "orvo/setup/dialog_controls.h"

namespace orvo {

namespace setup_id {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kWidth = 1001;   // edit, millimetres
inline constexpr int kLength = 1002;  // edit, millimetres
inline constexpr int kLeftOffset = 1003;
inline constexpr int kTopMargin = 1004;
inline constexpr int kThreshold = 1005;      // slider, BWSlice1
inline constexpr int kThresholdText = 1031;  // its value
inline constexpr int kSide = 1014;           // 1014, 1015
inline constexpr int kLamp = 1016;           // 1016, 1017
inline constexpr int kScanMode = 1018;       // 1018 .. 1022
inline constexpr int kResolution = 1023;     // 1023 .. 1028
inline constexpr int kCompression = 1029;    // 1029, 1030
inline constexpr int kEndorserFormat = 1037;
inline constexpr int kEndorser = 1045;    // 1045 .. 1048
inline constexpr int kDFDetect = 1049;    // 1049 .. 1051
inline constexpr int kMicrDetect = 1052;  // 1052 .. 1054
inline constexpr int kSerialNo = 1055;
inline constexpr int kImageFileFormat = 1056;  // 1056, 1057
inline constexpr int kScanCount = 1058;
inline constexpr int kLimitScanCount = 1059;   // 1059, 1060
inline constexpr int kGrayTifCompress = 1061;  // 1061 .. 1063
}  // namespace setup_id

// Millimetre factors of a resolution code: pixels per mm across, lines per
// mm along the document. False for codes that have none (the width and
// length are then neither shown nor read).
bool ResolutionFactors(int resolution, int& widthFactor, int& lengthFactor);

// The stored width for `mm` millimetres at `resolution` (a known code):
// mm times the factor, for code 2 plus 4 when that is not a multiple of 8,
// kept within the window's 16-bit field (negative input gives 0).
int StoredWidth(int mm, int resolution);
int StoredLength(int mm, int resolution);

// Largest values the edits store: the fields of the scanner's window.
inline constexpr int kMaxScanWidth = 65535;
inline constexpr int kMaxScanLines = 65535;
inline constexpr int kMaxOffset = 255;
inline constexpr int kMaxSerialNo = 16'777'215;
inline constexpr int kMaxScanCount = 32'767;

class SetupDialog : public DialogProcedure {
  public:
    // `current` is the driver's current settings, loaded for `profile`.
    SetupDialog(Settings& current, std::string profile)
        : current_(current), profile_(std::move(profile)) {}

    void OnInit(DialogControls& dialog) override;
    void OnCommand(DialogControls& dialog, int id) override;
    void OnSliderEnd(DialogControls& dialog, int id) override;

  private:
    // One working copy per radio group, and the threshold.
    struct Working {
        int threshold = 0;
        int side = 0;
        int lamp = 0;
        int scanMode = 0;
        int compression = 0;
        int resolution = 0;
        int endorser = 0;
        int dfDetect = 0;
        int micrDetect = 0;
        int imageFileFormat = 0;
        int limitScanCount = 0;
        int grayTifCompress = 0;
    };

    void ShowCompression(DialogControls& dialog);
    void Accept(DialogControls& dialog);

    Settings& current_;
    std::string profile_;
    Working w_;
    std::string shownPattern_;  // the endorser pattern as the edit gives it back
};

}  // namespace orvo
