#include "orvo/setup/setup_dialog.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "orvo/core/scan_kinds.h"

namespace orvo {

namespace {

namespace id = setup_id;

// Edits are read like the template's 10-byte buffers: 9 characters; the
// endorser pattern through a 36-byte buffer: 35 characters.
constexpr std::size_t kNumberBuffer = 10;
constexpr std::size_t kEndorserBuffer = 36;
constexpr std::size_t kCaptionBuffer = 256;

bool CompressionFixed(int scanMode) {
    const ScanMode mode = ScanModeOf(scanMode);
    return mode == ScanMode::kBilevel || mode == ScanMode::kBilevelMode2 ||
           mode == ScanMode::kGray16;
}

}  // namespace

bool ResolutionFactors(int resolution, int& widthFactor, int& lengthFactor) {
    static constexpr int kWidth[] = {8, 8, 4, 8, 12, 12};
    static constexpr int kLength[] = {8, 12, 4, 8, 12, 4};
    if (!IsResolution(resolution)) return false;
    widthFactor = kWidth[resolution];
    lengthFactor = kLength[resolution];
    return true;
}

int StoredWidth(int mm, int resolution) {
    int factor = 0, unused = 0;
    if (!ResolutionFactors(resolution, factor, unused)) return 0;
    // At code 2 the product is raised to a multiple of 8; the bound leaves
    // room for that.
    const bool eighths = ResolutionOf(resolution) == Resolution::kDpi100;
    const int extra = eighths ? 4 : 0;
    const int width = std::clamp(mm, 0, (kMaxScanWidth - extra) / factor) * factor;
    return eighths && width % 8 != 0 ? width + 4 : width;
}

int StoredLength(int mm, int resolution) {
    int unused = 0, factor = 0;
    if (!ResolutionFactors(resolution, unused, factor)) return 0;
    return std::clamp(mm, 0, kMaxScanLines / factor) * factor;
}

void SetupDialog::OnInit(DialogControls& dialog) {
    Settings& s = current_;
    // At code 2 the width becomes a multiple of 8 first, in the current
    // settings too.
    if (ResolutionOf(s.Resolution) == Resolution::kDpi100 && s.ScanWidth % 8 != 0) {
        s.ScanWidth = static_cast<int>(std::min<int64_t>(int64_t{s.ScanWidth} + 4, INT_MAX));
    }

    w_.threshold = s.BWSlice[0];
    w_.side = s.Side;
    w_.lamp = s.LED;
    w_.scanMode = s.ScanMode[0];
    w_.compression = s.CompressMode;
    w_.resolution = s.Resolution;
    w_.endorser = s.Endorser;
    w_.dfDetect = s.DFDetect;
    w_.micrDetect = s.MicrDetect;
    w_.imageFileFormat = s.ImageFileFormat;
    w_.limitScanCount = s.LimitScanCount;
    w_.grayTifCompress = s.GrayTifCompress;

    dialog.SetSliderRange(id::kThreshold, 0, 255);
    dialog.SetSliderPos(id::kThreshold, w_.threshold);
    SetItemInt(dialog, id::kThresholdText, w_.threshold);

    CheckRadioGroup(dialog, id::kSide, id::kSide + 1, w_.side);
    CheckRadioGroup(dialog, id::kLamp, id::kLamp + 1, w_.lamp);
    CheckRadioGroup(dialog, id::kScanMode, id::kScanMode + 4, w_.scanMode);
    CheckRadioGroup(dialog, id::kResolution, id::kResolution + 5, w_.resolution);
    CheckRadioGroup(dialog, id::kEndorser, id::kEndorser + 3, w_.endorser);
    CheckRadioGroup(dialog, id::kDFDetect, id::kDFDetect + 2, w_.dfDetect);
    CheckRadioGroup(dialog, id::kMicrDetect, id::kMicrDetect + 2, w_.micrDetect);
    CheckRadioGroup(dialog, id::kImageFileFormat, id::kImageFileFormat + 1, w_.imageFileFormat);
    CheckRadioGroup(dialog, id::kLimitScanCount, id::kLimitScanCount + 1, w_.limitScanCount);
    CheckRadioGroup(dialog, id::kGrayTifCompress, id::kGrayTifCompress + 2, w_.grayTifCompress);

    // Opening shows "uncompressed" for the bilevel and 16-level modes but
    // keeps the loaded compression, so that OK without changes stores what
    // was loaded.
    if (CompressionFixed(w_.scanMode)) {
        CheckRadioGroup(dialog, id::kCompression, id::kCompression + 1, 1);
        dialog.Enable(id::kCompression, false);
        dialog.Enable(id::kCompression + 1, false);
    } else {
        ShowCompression(dialog);
    }

    int widthFactor = 0, lengthFactor = 0;
    if (ResolutionFactors(s.Resolution, widthFactor, lengthFactor)) {
        SetItemInt(dialog, id::kWidth, s.ScanWidth / widthFactor);
        SetItemInt(dialog, id::kLength, s.ScanLines[0] / lengthFactor);
    }
    SetItemInt(dialog, id::kLeftOffset, s.LeftOffset);
    SetItemInt(dialog, id::kTopMargin, s.TopMargin);
    SetItemInt(dialog, id::kSerialNo, s.SerialNo);
    SetItemInt(dialog, id::kScanCount, s.ScanCount);
    dialog.SetItemText(id::kEndorserFormat, s.EndorserFormat);
    shownPattern_ = dialog.ItemText(id::kEndorserFormat, kEndorserBuffer);

    dialog.Enable(id::kEndorserFormat, w_.endorser != 0);
    dialog.Enable(id::kSerialNo, w_.endorser != 0);
    dialog.Enable(id::kScanCount, w_.limitScanCount != 0);
    const bool tiff = ImageFormatOf(w_.imageFileFormat) == ImageFormat::kTiff;
    for (int i = 0; i < 3; ++i) dialog.Enable(id::kGrayTifCompress + i, tiff);

    dialog.SetCaption(dialog.Caption(kCaptionBuffer) + " - " + profile_);
}

void SetupDialog::ShowCompression(DialogControls& dialog) {
    CheckRadioGroup(dialog, id::kCompression, id::kCompression + 1, w_.compression);
    dialog.Enable(id::kCompression, true);
    dialog.Enable(id::kCompression + 1, true);
}

void SetupDialog::OnSliderEnd(DialogControls& dialog, int control) {
    dialog.SetSliderPos(control, std::clamp(dialog.SliderPos(control), 0, 255));
    w_.threshold = dialog.SliderPos(id::kThreshold);
    SetItemInt(dialog, id::kThresholdText, w_.threshold);
}

void SetupDialog::OnCommand(DialogControls& dialog, int control) {
    // A click in a radio group: check it and take its value.
    auto group = [&](int first, int last, int& value) {
        if (control < first || control > last) return false;
        value = control - first;
        CheckRadioGroup(dialog, first, last, value);
        return true;
    };
    if (group(id::kSide, id::kSide + 1, w_.side)) return;
    if (group(id::kLamp, id::kLamp + 1, w_.lamp)) return;
    if (group(id::kScanMode, id::kScanMode + 4, w_.scanMode)) {
        if (CompressionFixed(w_.scanMode)) {
            w_.compression = 1;
            CheckRadioGroup(dialog, id::kCompression, id::kCompression + 1, 1);
            dialog.Enable(id::kCompression, false);
            dialog.Enable(id::kCompression + 1, false);
        } else {
            ShowCompression(dialog);
        }
        return;
    }
    // The millimetres shown stay as they are; OK converts them with the
    // factors of the new code.
    if (group(id::kResolution, id::kResolution + 5, w_.resolution)) return;
    if (group(id::kCompression, id::kCompression + 1, w_.compression)) return;
    if (group(id::kEndorser, id::kEndorser + 3, w_.endorser)) {
        dialog.Enable(id::kEndorserFormat, w_.endorser != 0);
        dialog.Enable(id::kSerialNo, w_.endorser != 0);
        return;
    }
    if (group(id::kDFDetect, id::kDFDetect + 2, w_.dfDetect)) return;
    if (group(id::kMicrDetect, id::kMicrDetect + 2, w_.micrDetect)) return;
    if (group(id::kImageFileFormat, id::kImageFileFormat + 1, w_.imageFileFormat)) return;
    if (group(id::kLimitScanCount, id::kLimitScanCount + 1, w_.limitScanCount)) {
        dialog.Enable(id::kScanCount, w_.limitScanCount != 0);
        return;
    }
    if (group(id::kGrayTifCompress, id::kGrayTifCompress + 2, w_.grayTifCompress)) return;
    if (control == id::kCancel) {
        dialog.EndDialog(0);
    } else if (control == id::kOk) {
        Accept(dialog);
        dialog.EndDialog(1);
    }
}

void SetupDialog::Accept(DialogControls& dialog) {
    Settings& s = current_;
    s.BWSlice[0] = w_.threshold;
    s.Side = w_.side;
    s.LED = w_.lamp;
    s.ScanMode[0] = w_.scanMode;
    s.CompressMode = w_.compression;
    s.Resolution = w_.resolution;
    s.Endorser = w_.endorser;
    s.DFDetect = w_.dfDetect;
    s.MicrDetect = w_.micrDetect;
    s.ImageFileFormat = w_.imageFileFormat;
    s.LimitScanCount = w_.limitScanCount;
    s.GrayTifCompress = w_.grayTifCompress;

    int widthFactor = 0, lengthFactor = 0;
    if (ResolutionFactors(s.Resolution, widthFactor, lengthFactor)) {
        s.ScanWidth =
            StoredWidth(ItemNumber(dialog, id::kWidth, kNumberBuffer, 0, INT_MAX), s.Resolution);
        s.ScanLines[0] =
            StoredLength(ItemNumber(dialog, id::kLength, kNumberBuffer, 0, INT_MAX), s.Resolution);
    }
    s.LeftOffset = ItemNumber(dialog, id::kLeftOffset, kNumberBuffer, 0, kMaxOffset);
    s.TopMargin = ItemNumber(dialog, id::kTopMargin, kNumberBuffer, 0, kMaxOffset);
    s.SerialNo = ItemNumber(dialog, id::kSerialNo, kNumberBuffer, 0, kMaxSerialNo);
    s.ScanCount = ItemNumber(dialog, id::kScanCount, kNumberBuffer, 0, kMaxScanCount);
    // An untouched pattern keeps its bytes, also those the edit cannot show
    // (text of the settings file in another code page).
    const std::string pattern = dialog.ItemText(id::kEndorserFormat, kEndorserBuffer);
    if (pattern != shownPattern_) s.EndorserFormat = pattern;
}

}  // namespace orvo
