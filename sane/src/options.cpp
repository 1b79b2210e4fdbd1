#include "orvo/sane/options.h"

#include <sane/saneopts.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvo::sane {

namespace {

// The names document-feeder backends give their sources, which frontends look
// for; the names of earlier versions are still taken from scripts.
constexpr const char* kAdfFront = "ADF Front";
constexpr const char* kAdfDuplex = "ADF Duplex";
SANE_String_Const kSourceList[] = {kAdfFront, kAdfDuplex, nullptr};
SANE_String_Const kOldSourceList[] = {"Front", "Duplex", nullptr};
SANE_String_Const kModeList[] = {SANE_VALUE_SCAN_MODE_LINEART, SANE_VALUE_SCAN_MODE_GRAY, nullptr};
const SANE_Word kResolutionList[] = {3, 100, 200, 300};
// The settings dialog's names of the modes, in the order of their values.
SANE_String_Const kDoubleFeedList[] = {"Off", "Mode 1", "Mode 2", nullptr};
SANE_String_Const kEndorserList[] = {"Off", "Mode 1", "Mode 2", "Mode 3", nullptr};

constexpr SANE_Int kSelectable = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;

void Group(SANE_Option_Descriptor& d, const char* title) {
    d.name = "";
    d.title = title;
    d.desc = "";
    d.type = SANE_TYPE_GROUP;
    d.unit = SANE_UNIT_NONE;
    d.size = 0;
    d.cap = 0;
    d.constraint_type = SANE_CONSTRAINT_NONE;
}

// The entry of a string list that `value` names: the same text, else the one
// entry that differs only in case (`*exact` false then). -1 when none.
int FindInList(SANE_String_Const const* list, const char* value, bool* exact) {
    int folded = -1;
    int foldedCount = 0;
    for (int i = 0; list[i] != nullptr; ++i) {
        if (std::strcmp(list[i], value) == 0) {
            *exact = true;
            return i;
        }
        if (strcasecmp(list[i], value) == 0) {
            folded = i;
            ++foldedCount;
        }
    }
    *exact = false;
    return foldedCount == 1 ? folded : -1;
}

// The value of a word list nearest to `value`.
SANE_Word Nearest(const SANE_Word* list, SANE_Word value) {
    SANE_Word best = list[1];
    for (SANE_Word i = 1; i <= list[0]; ++i) {
        if (std::abs(list[i] - value) < std::abs(best - value)) best = list[i];
    }
    return best;
}

// What SANE_Fixed values may differ from the millimetres they stand for.
constexpr double kSlackMm = 1e-3;

// Millimetres as a frontend sees them, cut as SANE_FIX cuts them (what
// frontends send for the same millimetres is then taken as exact).
SANE_Fixed Fixed(double mm) {
    return SANE_FIX(mm);
}

// `mm` on whole dots at `perInch`.
SANE_Fixed OnDots(SANE_Fixed mm, int perInch) {
    return Fixed(MmOfDots(DotsOfMm(SANE_UNFIX(mm), perInch), perInch));
}

// The smallest step of a length at `perInch`: one dot, or `dots`.
SANE_Word Quantum(int perInch, int dots = 1) {
    return Fixed(MmOfDots(dots, perInch));
}

// Takes `taken` for the frontend's value: rewrites it and says so
// (SANE_INFO_INEXACT) when it differs from what was asked.
SANE_Word Take(SANE_Word* value, SANE_Word taken, SANE_Int* flags) {
    if (taken != *value) {
        *value = taken;
        *flags |= SANE_INFO_INEXACT;
    }
    return taken;
}

void Choice(SANE_Option_Descriptor& d, const char* name, const char* title, const char* desc,
            SANE_String_Const const* list) {
    std::size_t longest = 0;
    for (int i = 0; list[i] != nullptr; ++i) longest = std::max(longest, std::strlen(list[i]));
    d.name = name;
    d.title = title;
    d.desc = desc;
    d.type = SANE_TYPE_STRING;
    d.unit = SANE_UNIT_NONE;
    d.size = static_cast<SANE_Int>(longest + 1);
    d.cap = kSelectable;
    d.constraint_type = SANE_CONSTRAINT_STRING_LIST;
    d.constraint.string_list = list;
}

void Length(SANE_Option_Descriptor& d, const char* name, const char* title, const char* desc,
            const SANE_Range* range) {
    d.name = name;
    d.title = title;
    d.desc = desc;
    d.type = SANE_TYPE_FIXED;
    d.unit = SANE_UNIT_MM;
    d.size = sizeof(SANE_Word);
    d.cap = kSelectable;
    d.constraint_type = SANE_CONSTRAINT_RANGE;
    d.constraint.range = range;
}

// ScanWidth for `mm`, not past `limitMm` (whole groups of 8 pixels).
int WidthWithin(double mm, double limitMm, int code) {
    const int perInch = UnitsOf(code).pixelsPerInch;
    int width = WidthForMm(std::min(mm, limitMm), code);
    while (width - 8 >= DotsAt(kMinDots100, perInch) &&
           MmOfDots(width, perInch) > limitMm + kSlackMm) {
        width -= 8;
    }
    return width;
}

// ScanLines1 for `mm`, not past `limitMm` (multiples of 3 at code 1).
int LinesWithin(double mm, double limitMm, int code) {
    const int perInch = UnitsOf(code).linesPerInch;
    int lines = LinesForMm(std::min(mm, limitMm), code);
    const int step = code == 1 ? 3 : 1;
    while (lines - step > DotsAt(kMinDots100, perInch) &&
           MmOfLines(lines, code) > limitMm + kSlackMm)
        lines -= step;
    return lines;
}

}  // namespace

Options::Options(std::vector<std::string> profiles, const std::string& initial,
                 ProfileReader reader)
    : profiles_(std::move(profiles)), reader_(std::move(reader)) {
    if (profiles_.empty()) profiles_.push_back("Default");
    for (const std::string& p : profiles_) profileList_.push_back(p.c_str());
    profileList_.push_back(nullptr);
    InitOptions();
    const bool known = std::find(profiles_.begin(), profiles_.end(), initial) != profiles_.end();
    SelectProfile(known ? initial : profiles_.front());
}

void Options::InitOptions() {
    SANE_Option_Descriptor* d = descriptors_;

    d[kOptNumOptions].name = SANE_NAME_NUM_OPTIONS;
    d[kOptNumOptions].title = SANE_TITLE_NUM_OPTIONS;
    d[kOptNumOptions].desc = SANE_DESC_NUM_OPTIONS;
    d[kOptNumOptions].type = SANE_TYPE_INT;
    d[kOptNumOptions].unit = SANE_UNIT_NONE;
    d[kOptNumOptions].size = sizeof(SANE_Word);
    d[kOptNumOptions].cap = SANE_CAP_SOFT_DETECT;
    d[kOptNumOptions].constraint_type = SANE_CONSTRAINT_NONE;

    Group(d[kOptGroupStandard], SANE_TITLE_STANDARD);

    std::size_t longest = 0;
    for (const std::string& p : profiles_) longest = std::max(longest, p.size());
    d[kOptProfile].name = "profile";
    d[kOptProfile].title = "Profile";
    d[kOptProfile].desc =
        "Profile of OrvoScan.ini the scan starts from. Choosing one loads its source, mode, "
        "resolution, scan area and threshold into the other options; its other settings "
        "(MICR reading, endorser, double-feed detection, ...) are used as the file holds them. "
        "The file itself is never changed.";
    d[kOptProfile].type = SANE_TYPE_STRING;
    d[kOptProfile].unit = SANE_UNIT_NONE;
    d[kOptProfile].size = static_cast<SANE_Int>(longest + 1);
    d[kOptProfile].cap = kSelectable;
    d[kOptProfile].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    d[kOptProfile].constraint.string_list = profileList_.data();

    d[kOptSource].name = SANE_NAME_SCAN_SOURCE;
    d[kOptSource].title = SANE_TITLE_SCAN_SOURCE;
    d[kOptSource].desc =
        "The automatic feeder: ADF Front scans the front of every cheque, ADF Duplex its "
        "front, then its rear. Every sane_start takes the next page of the stack until the "
        "feeder is empty. Front and Duplex are taken as well.";
    d[kOptSource].type = SANE_TYPE_STRING;
    d[kOptSource].unit = SANE_UNIT_NONE;
    d[kOptSource].size = sizeof "ADF Duplex";
    d[kOptSource].cap = kSelectable;
    d[kOptSource].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    d[kOptSource].constraint.string_list = kSourceList;

    d[kOptMode].name = SANE_NAME_SCAN_MODE;
    d[kOptMode].title = SANE_TITLE_SCAN_MODE;
    d[kOptMode].desc =
        "Lineart: black and white (1 bit per pixel). Gray: 256 levels of gray (16-level "
        "profiles are delivered as 8 bits per pixel).";
    d[kOptMode].type = SANE_TYPE_STRING;
    d[kOptMode].unit = SANE_UNIT_NONE;
    d[kOptMode].size = sizeof "Lineart";
    d[kOptMode].cap = kSelectable;
    d[kOptMode].constraint_type = SANE_CONSTRAINT_STRING_LIST;
    d[kOptMode].constraint.string_list = kModeList;

    d[kOptResolution].name = SANE_NAME_SCAN_RESOLUTION;
    d[kOptResolution].title = SANE_TITLE_SCAN_RESOLUTION;
    d[kOptResolution].desc = SANE_DESC_SCAN_RESOLUTION;
    d[kOptResolution].type = SANE_TYPE_INT;
    d[kOptResolution].unit = SANE_UNIT_DPI;
    d[kOptResolution].size = sizeof(SANE_Word);
    d[kOptResolution].cap = kSelectable;
    d[kOptResolution].constraint_type = SANE_CONSTRAINT_WORD_LIST;
    d[kOptResolution].constraint.word_list = kResolutionList;

    Group(d[kOptGroupGeometry], SANE_TITLE_GEOMETRY);

    Length(d[kOptTlX], SANE_NAME_SCAN_TL_X, SANE_TITLE_SCAN_TL_X,
           "Left edge of the scan area, from the edge of the track.", &tlXRange_);
    Length(d[kOptTlY], SANE_NAME_SCAN_TL_Y, SANE_TITLE_SCAN_TL_Y,
           "Top edge of the scan area, from the leading edge of every cheque.", &tlYRange_);
    Length(d[kOptBrX], SANE_NAME_SCAN_BR_X, SANE_TITLE_SCAN_BR_X,
           "Right edge of the scan area: the scanner scans the strip up to it (whole groups of "
           "8 pixels).",
           &widthRange_);
    Length(d[kOptBrY], SANE_NAME_SCAN_BR_Y, SANE_TITLE_SCAN_BR_Y,
           "Bottom edge of the scan area along the cheque. Used only with auto-length off: "
           "otherwise every page ends where its cheque ends.",
           &lengthRange_);
    Length(d[kOptPageWidth], SANE_NAME_PAGE_WIDTH, SANE_TITLE_PAGE_WIDTH,
           "Height of the largest document across the track; the scan area lies within it.",
           &pageWidthRange_);
    Length(d[kOptPageHeight], SANE_NAME_PAGE_HEIGHT, SANE_TITLE_PAGE_HEIGHT,
           "Length of the longest document; the scan area lies within it. With the whole "
           "cheque length, a longer document is ended there.",
           &pageHeightRange_);

    d[kOptAutoLength].name = "auto-length";
    d[kOptAutoLength].title = "Whole cheque length";
    d[kOptAutoLength].desc =
        "Every page as long as its cheque (from the top edge of the scan area), whatever the "
        "bottom edge says. Off: every page ends at the bottom edge (-y), a fixed length. A "
        "page's line count is known once sane_start has returned.";
    d[kOptAutoLength].type = SANE_TYPE_BOOL;
    d[kOptAutoLength].unit = SANE_UNIT_NONE;
    d[kOptAutoLength].size = sizeof(SANE_Word);
    d[kOptAutoLength].cap = kSelectable;
    d[kOptAutoLength].constraint_type = SANE_CONSTRAINT_NONE;

    Group(d[kOptGroupEnhancement], SANE_TITLE_ENHANCEMENT);

    thresholdRange_ = {0, 255, 1};
    d[kOptThreshold].name = SANE_NAME_THRESHOLD;
    d[kOptThreshold].title = SANE_TITLE_THRESHOLD;
    d[kOptThreshold].desc =
        "Black/white threshold of lineart scans: darker values become black (0: the "
        "scanner's own threshold).";
    d[kOptThreshold].type = SANE_TYPE_INT;
    d[kOptThreshold].unit = SANE_UNIT_NONE;
    d[kOptThreshold].size = sizeof(SANE_Word);
    d[kOptThreshold].cap = kSelectable;
    d[kOptThreshold].constraint_type = SANE_CONSTRAINT_RANGE;
    d[kOptThreshold].constraint.range = &thresholdRange_;

    Group(d[kOptGroupCheque], "Cheque");

    d[kOptMicr].name = "micr";
    d[kOptMicr].title = "MICR line";
    d[kOptMicr].desc =
        "MICR line of the cheque just delivered (read-only): 0 when every character was "
        "read, 1 when it holds unreadable characters (? or _), followed by the characters. "
        "Empty when the scanner read none (MICR reading off in the settings, or no cheque "
        "yet). The rear of a cheque keeps the line of its front, and the line stays until the "
        "next cheque: read it after every sane_start.";
    d[kOptMicr].type = SANE_TYPE_STRING;
    d[kOptMicr].unit = SANE_UNIT_NONE;
    d[kOptMicr].size = kMicrValueSize;
    d[kOptMicr].cap = SANE_CAP_SOFT_DETECT;
    d[kOptMicr].constraint_type = SANE_CONSTRAINT_NONE;

    d[kOptSide].name = "side";
    d[kOptSide].title = "Duplex side";
    d[kOptSide].desc =
        "Which side of the cheque the frame just started is (read-only): false the front, "
        "true the rear.";
    d[kOptSide].type = SANE_TYPE_BOOL;
    d[kOptSide].unit = SANE_UNIT_NONE;
    d[kOptSide].size = sizeof(SANE_Word);
    d[kOptSide].cap = SANE_CAP_SOFT_DETECT;
    d[kOptSide].constraint_type = SANE_CONSTRAINT_NONE;

    Choice(d[kOptDoubleFeed], "df-detect", "Double feed detection",
           "How the scanner detects two cheques fed at once (its modes 1 and 2); a double feed "
           "ends the stack with an error. Shared by every profile.",
           kDoubleFeedList);
    Choice(d[kOptEndorser], "endorser", "Endorser",
           "Whether the scanner prints the endorser pattern on every cheque (its modes 1 to 3). "
           "Shared by every profile.",
           kEndorserList);

    serialRange_ = {0, kMaxSerialNo, 1};
    d[kOptEndorserValue].name = "endorser-val";
    d[kOptEndorserValue].title = "Endorser serial number";
    d[kOptEndorserValue].desc = "The serial number the endorser prints on the first cheque.";
    d[kOptEndorserValue].type = SANE_TYPE_INT;
    d[kOptEndorserValue].unit = SANE_UNIT_NONE;
    d[kOptEndorserValue].size = sizeof(SANE_Word);
    d[kOptEndorserValue].cap = kSelectable;
    d[kOptEndorserValue].constraint_type = SANE_CONSTRAINT_RANGE;
    d[kOptEndorserValue].constraint.range = &serialRange_;

    d[kOptEndorserString].name = "endorser-string";
    d[kOptEndorserString].title = "Endorser pattern";
    d[kOptEndorserString].desc =
        "What the endorser prints: text with $Y, $M, $D (the date), $N (the serial number) "
        "and $$; at most 35 characters, no control characters.";
    d[kOptEndorserString].type = SANE_TYPE_STRING;
    d[kOptEndorserString].unit = SANE_UNIT_NONE;
    d[kOptEndorserString].size = kMaxEndorserFormat + 1;
    d[kOptEndorserString].cap = kSelectable;
    d[kOptEndorserString].constraint_type = SANE_CONSTRAINT_NONE;
}

void Options::SelectProfile(const std::string& name) {
    profile_ = name;
    settings_ = Normalised(reader_ ? reader_(name) : ScanSettings{});
    // Without a length of its own: the starter profiles' length when a fixed
    // length is asked for.
    if (settings_.scanLines == 0)
        settings_.scanLines =
            LinesForMm(MmOfDots(kDefaultLengthDots100, 100), settings_.resolution);
    tlX_ = 0;
    tlY_ = 0;
    pageWidth_ = Fixed(MmOfDots(kMaxWidthDots100, 100));
    pageHeight_ = Fixed(MmOfDots(kMaxLengthDots100, 100));
    ClampToPage();
    UpdateActivity();
}

// Holds the scan area within the document size, everything on whole pixels
// of the resolution, and the ranges to it.
void Options::ClampToPage() {
    const int code = settings_.resolution;
    const ResolutionUnits units = UnitsOf(code);
    const int across = FramePixelsPerInch(code);
    const SANE_Fixed minMm = Fixed(MmOfDots(kMinDots100, 100));
    pageWidthRange_ = {minMm, Fixed(MmOfDots(kMaxWidthDots100, 100)), Quantum(across)};
    pageHeightRange_ = {minMm, Fixed(MmOfDots(kMaxLengthDots100, 100)),
                        Quantum(units.linesPerInch)};
    pageWidth_ = std::clamp(OnDots(pageWidth_, across), pageWidthRange_.min, pageWidthRange_.max);
    pageHeight_ = std::clamp(OnDots(pageHeight_, units.linesPerInch), pageHeightRange_.min,
                             pageHeightRange_.max);
    const double width = SANE_UNFIX(pageWidth_);
    const double height = SANE_UNFIX(pageHeight_);
    if (MmOfDots(settings_.scanWidth, units.pixelsPerInch) > width + kSlackMm)
        settings_.scanWidth = WidthWithin(width, width, code);
    if (MmOfLines(settings_.scanLines, code) > height + kSlackMm)
        settings_.scanLines = LinesWithin(height, height, code);
    tlXRange_ = {0, OnDots(pageWidth_ - minMm, across), Quantum(across)};
    tlYRange_ = {0, OnDots(pageHeight_ - minMm, units.linesPerInch), Quantum(units.linesPerInch)};
    widthRange_ = {Fixed(MmOfDots(WidthForMm(0, code), units.pixelsPerInch)),
                   Fixed(MmOfDots(WidthWithin(width, width, code), units.pixelsPerInch)),
                   Quantum(units.pixelsPerInch, 8)};
    lengthRange_ = {Fixed(MmOfLines(LinesForMm(0, code), code)),
                    Fixed(MmOfLines(LinesWithin(height, height, code), code)),
                    Quantum(units.linesPerInch, code == 1 ? 3 : 1)};
    tlX_ = std::min(OnDots(tlX_, across), tlXRange_.max);
    tlY_ = std::min(OnDots(tlY_, units.linesPerInch), tlYRange_.max);
}

ScanSettings Options::settings() const {
    ScanSettings s = settings_;
    if (autoLength_) s.scanLines = 0;
    return s;
}

FrameCrop Options::Crop() const {
    const ScanSettings s = settings();
    const FrameShape f = PredictFrame(s);
    const int across = FramePixelsPerInch(s.resolution);
    const int along = UnitsOf(s.resolution).linesPerInch;
    FrameCrop crop;
    if (autoLength_) crop.longestRows = DotsOfMm(SANE_UNFIX(pageHeight_), along);
    const int rows = f.lines > 0 ? f.lines : crop.longestRows;
    // The scan area is at least the smallest one wide and long: a top-left
    // corner past the bottom-right one gives the last of those before it.
    crop.leftPixels = std::clamp(DotsOfMm(SANE_UNFIX(tlX_), across), 0,
                                 std::max(0, f.pixelsPerLine - DotsAt(kMinDots100, across)));
    crop.topRows = std::clamp(DotsOfMm(SANE_UNFIX(tlY_), along), 0,
                              std::max(0, rows - DotsAt(kMinDots100, along)));
    return crop;
}

void Options::UpdateActivity() {
    auto activate = [this](int index, bool active) {
        SANE_Int& cap = descriptors_[index].cap;
        cap = active ? (cap & ~SANE_CAP_INACTIVE) : (cap | SANE_CAP_INACTIVE);
    };
    activate(kOptThreshold, !IsGray(settings_));
    activate(kOptEndorserValue, settings_.endorser != 0);
    activate(kOptEndorserString, settings_.endorser != 0);
}

void Options::SetMicr(const std::string& value) {
    micr_ = value.substr(0, kMicrValueSize - 1);
}

const SANE_Option_Descriptor* Options::Descriptor(SANE_Int index) const {
    if (index < 0 || index >= kOptCount) return nullptr;
    return &descriptors_[index];
}

SANE_Status Options::Control(SANE_Int index, SANE_Action action, void* value, SANE_Int* info) {
    if (info != nullptr) *info = 0;
    if (index < 0 || index >= kOptCount || value == nullptr) return SANE_STATUS_INVAL;
    const SANE_Option_Descriptor& d = descriptors_[index];
    if (d.type == SANE_TYPE_GROUP || !SANE_OPTION_IS_ACTIVE(d.cap)) return SANE_STATUS_INVAL;
    switch (action) {
        case SANE_ACTION_GET_VALUE:
            return Get(index, value);
        case SANE_ACTION_SET_VALUE:
            if (!SANE_OPTION_IS_SETTABLE(d.cap)) return SANE_STATUS_INVAL;
            return Set(index, value, info);
        default:  // no option has an automatic value
            return SANE_STATUS_INVAL;
    }
}

SANE_Status Options::Get(SANE_Int index, void* value) const {
    const ResolutionUnits units = UnitsOf(settings_.resolution);
    auto word = [value](SANE_Word w) {
        *static_cast<SANE_Word*>(value) = w;
        return SANE_STATUS_GOOD;
    };
    auto text = [value, this, index](const std::string& s) {
        // Option values always fit their descriptor's size.
        const std::size_t size = static_cast<std::size_t>(descriptors_[index].size);
        const std::size_t n = std::min(s.size(), size - 1);
        std::memcpy(value, s.data(), n);
        static_cast<char*>(value)[n] = '\0';
        return SANE_STATUS_GOOD;
    };
    switch (index) {
        case kOptNumOptions:
            return word(kOptCount);
        case kOptProfile:
            return text(profile_);
        case kOptSource:
            return text(settings_.side == 0 ? kAdfFront : kAdfDuplex);
        case kOptMode:
            return text(IsGray(settings_) ? SANE_VALUE_SCAN_MODE_GRAY
                                          : SANE_VALUE_SCAN_MODE_LINEART);
        case kOptResolution:
            return word(units.dpi);
        case kOptTlX:
            return word(tlX_);
        case kOptTlY:
            return word(tlY_);
        case kOptBrX:
            return word(Fixed(MmOfDots(settings_.scanWidth, units.pixelsPerInch)));
        case kOptBrY:
            return word(Fixed(MmOfLines(settings_.scanLines, settings_.resolution)));
        case kOptPageWidth:
            return word(pageWidth_);
        case kOptPageHeight:
            return word(pageHeight_);
        case kOptAutoLength:
            return word(autoLength_ ? SANE_TRUE : SANE_FALSE);
        case kOptThreshold:
            return word(settings_.bwSlice);
        case kOptMicr:
            return text(micr_);
        case kOptSide:
            return word(rear_ ? SANE_TRUE : SANE_FALSE);
        case kOptDoubleFeed:
            return text(kDoubleFeedList[settings_.dfDetect]);
        case kOptEndorser:
            return text(kEndorserList[settings_.endorser]);
        case kOptEndorserValue:
            return word(settings_.serialNo);
        case kOptEndorserString:
            return text(settings_.endorserFormat);
        default:
            return SANE_STATUS_INVAL;
    }
}

SANE_Status Options::Set(SANE_Int index, void* value, SANE_Int* info) {
    SANE_Int flags = 0;
    const SANE_Option_Descriptor& d = descriptors_[index];
    int listed = -1;
    if (d.constraint_type == SANE_CONSTRAINT_STRING_LIST) {
        bool exact = false;
        listed = FindInList(d.constraint.string_list, static_cast<const char*>(value), &exact);
        if (listed < 0 && index == kOptSource) {
            // An earlier name: taken, the value left as given (it may not
            // hold the longer listed name).
            listed = FindInList(kOldSourceList, static_cast<const char*>(value), &exact);
            if (listed >= 0) flags |= SANE_INFO_INEXACT;
        } else if (listed >= 0 && !exact) {
            // Only the case differs: the listed spelling is taken (same length).
            std::strcpy(static_cast<char*>(value), d.constraint.string_list[listed]);
            flags |= SANE_INFO_INEXACT;
        }
        if (listed < 0) return SANE_STATUS_INVAL;
    }
    SANE_Word* word = static_cast<SANE_Word*>(value);
    const ResolutionUnits units = UnitsOf(settings_.resolution);
    // A value held to its option's range, on whole pixels of the resolution.
    auto onRange = [word, &flags](SANE_Fixed& target, const SANE_Range& range, int perInch) {
        target = Take(word, std::clamp(OnDots(*word, perInch), range.min, range.max), &flags);
    };
    switch (index) {
        case kOptProfile:
            SelectProfile(profiles_[static_cast<std::size_t>(listed)]);
            flags |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
            break;
        case kOptSource:
            // Any non-zero Side scans both sides: a profile's own value is kept.
            if (listed == 0) {
                settings_.side = 0;
            } else if (settings_.side == 0) {
                settings_.side = 1;
            }
            break;
        case kOptMode: {
            const bool gray = listed == 1;
            // A profile's own bilevel (0-2) or gray (3, 4) mode is kept.
            if (gray != IsGray(settings_)) settings_.scanMode = gray ? 4 : 0;
            UpdateActivity();
            flags |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptResolution: {
            const SANE_Word dpi = Take(word, Nearest(kResolutionList, *word), &flags);
            // A profile's code that already gives this resolution is kept.
            if (units.dpi != dpi) {
                // The same area in the new unit: whole pixels, halves up.
                const int code = CodeForDpi(dpi);
                const ResolutionUnits to = UnitsOf(code);
                auto rescaled = [](int count, int from, int into) {
                    return (count * into + from / 2) / from;
                };
                settings_.scanWidth = WidthOfPixels(
                    rescaled(settings_.scanWidth, units.pixelsPerInch, to.pixelsPerInch), code);
                settings_.scanLines = LinesOfRows(
                    rescaled(settings_.scanLines - 1, units.linesPerInch, to.linesPerInch), code);
                settings_.resolution = code;
                ClampToPage();
            }
            flags |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptBrX: {
            settings_.scanWidth =
                WidthWithin(SANE_UNFIX(*word), SANE_UNFIX(pageWidth_), settings_.resolution);
            Take(word, Fixed(MmOfDots(settings_.scanWidth, units.pixelsPerInch)), &flags);
            flags |= SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptBrY: {
            settings_.scanLines =
                LinesWithin(SANE_UNFIX(*word), SANE_UNFIX(pageHeight_), settings_.resolution);
            Take(word, Fixed(MmOfLines(settings_.scanLines, settings_.resolution)), &flags);
            flags |= SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptTlX:
            onRange(tlX_, tlXRange_, FramePixelsPerInch(settings_.resolution));
            flags |= SANE_INFO_RELOAD_PARAMS;
            break;
        case kOptTlY:
            onRange(tlY_, tlYRange_, units.linesPerInch);
            flags |= SANE_INFO_RELOAD_PARAMS;
            break;
        case kOptPageWidth:
            onRange(pageWidth_, pageWidthRange_, FramePixelsPerInch(settings_.resolution));
            ClampToPage();
            flags |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
            break;
        case kOptPageHeight:
            onRange(pageHeight_, pageHeightRange_, units.linesPerInch);
            ClampToPage();
            flags |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
            break;
        case kOptAutoLength: {
            if (*word != SANE_TRUE && *word != SANE_FALSE) return SANE_STATUS_INVAL;
            autoLength_ = *word == SANE_TRUE;
            flags |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptThreshold:
            settings_.bwSlice = Take(word, std::clamp<SANE_Word>(*word, 0, 255), &flags);
            break;
        case kOptDoubleFeed:
            settings_.dfDetect = listed;
            break;
        case kOptEndorser:
            settings_.endorser = listed;
            UpdateActivity();
            flags |= SANE_INFO_RELOAD_OPTIONS;
            break;
        case kOptEndorserValue:
            settings_.serialNo = Take(word, std::clamp<SANE_Word>(*word, 0, kMaxSerialNo), &flags);
            break;
        case kOptEndorserString: {
            // The option's size bounds what a frontend passes; a control
            // character would end the settings file's line.
            const char* text = static_cast<const char*>(value);
            const std::string pattern(text, strnlen(text, kMaxEndorserFormat + 1));
            if (pattern.size() > kMaxEndorserFormat ||
                EndorserFormatLength(pattern) != pattern.size()) {
                return SANE_STATUS_INVAL;
            }
            settings_.endorserFormat = pattern;
            break;
        }
        default:
            return SANE_STATUS_INVAL;
    }
    if (info != nullptr) *info = flags;
    return SANE_STATUS_GOOD;
}

SANE_Parameters Options::Parameters() const {
    const FrameShape f = PredictFrame(settings());
    const FrameCrop crop = Crop();
    SANE_Parameters p{};
    p.format = SANE_FRAME_GRAY;
    p.last_frame = SANE_TRUE;
    p.depth = f.depth;
    p.pixels_per_line = f.pixelsPerLine - crop.leftPixels;
    p.bytes_per_line = f.depth == 1 ? (p.pixels_per_line + 7) / 8 : p.pixels_per_line;
    p.lines = f.lines > 0 ? f.lines - crop.topRows : -1;
    return p;
}

}  // namespace orvo::sane
