#include "options.h"

#include <sane/saneopts.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvo::sane {

namespace {

constexpr const char* kFront = "Front";
constexpr const char* kDuplex = "Duplex";
SANE_String_Const kSourceList[] = {kFront, kDuplex, nullptr};
SANE_String_Const kModeList[] = {SANE_VALUE_SCAN_MODE_LINEART, SANE_VALUE_SCAN_MODE_GRAY, nullptr};
const SANE_Word kResolutionList[] = {3, 100, 200, 300};

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

SANE_Fixed Millimetres(int count, int perMm) {
    return SANE_FIX(static_cast<double>(count) / perMm);
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
    d[kOptSource].desc = "Front: the front of every cheque. Duplex: front, then rear.";
    d[kOptSource].type = SANE_TYPE_STRING;
    d[kOptSource].unit = SANE_UNIT_NONE;
    d[kOptSource].size = sizeof "Duplex";
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

    widthRange_ = {SANE_FIX(kMinMm), SANE_FIX(kMaxWidthMm), 0};
    lengthRange_ = {SANE_FIX(kMinMm), SANE_FIX(kMaxLengthMm), 0};
    d[kOptBrX].name = SANE_NAME_SCAN_BR_X;
    d[kOptBrX].title = "Scan width";
    d[kOptBrX].desc =
        "Width of the scanned strip across the track, from its left edge (rounded to whole "
        "groups of 8 pixels).";
    d[kOptBrX].type = SANE_TYPE_FIXED;
    d[kOptBrX].unit = SANE_UNIT_MM;
    d[kOptBrX].size = sizeof(SANE_Word);
    d[kOptBrX].cap = kSelectable;
    d[kOptBrX].constraint_type = SANE_CONSTRAINT_RANGE;
    d[kOptBrX].constraint.range = &widthRange_;

    d[kOptAutoLength].name = "auto-length";
    d[kOptAutoLength].title = "Whole cheque length";
    d[kOptAutoLength].desc =
        "Scan every cheque to its own length instead of the scan length (-y). A page's line "
        "count is then known once sane_start has returned; frontends that need the page "
        "size before a scan may not cope.";
    d[kOptAutoLength].type = SANE_TYPE_BOOL;
    d[kOptAutoLength].unit = SANE_UNIT_NONE;
    d[kOptAutoLength].size = sizeof(SANE_Word);
    d[kOptAutoLength].cap = kSelectable;
    d[kOptAutoLength].constraint_type = SANE_CONSTRAINT_NONE;

    d[kOptBrY].name = SANE_NAME_SCAN_BR_Y;
    d[kOptBrY].title = "Scan length";
    d[kOptBrY].desc = "Length scanned along every cheque, from its leading edge.";
    d[kOptBrY].type = SANE_TYPE_FIXED;
    d[kOptBrY].unit = SANE_UNIT_MM;
    d[kOptBrY].size = sizeof(SANE_Word);
    d[kOptBrY].cap = kSelectable;
    d[kOptBrY].constraint_type = SANE_CONSTRAINT_RANGE;
    d[kOptBrY].constraint.range = &lengthRange_;

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
        "yet). The rear of a cheque keeps the line of its front.";
    d[kOptMicr].type = SANE_TYPE_STRING;
    d[kOptMicr].unit = SANE_UNIT_NONE;
    d[kOptMicr].size = kMicrValueSize;
    d[kOptMicr].cap = SANE_CAP_SOFT_DETECT;
    d[kOptMicr].constraint_type = SANE_CONSTRAINT_NONE;
}

void Options::SelectProfile(const std::string& name) {
    profile_ = name;
    settings_ = Normalised(reader_ ? reader_(name) : ScanSettings{});
    lastLines_ = LinesForMm(kDefaultLengthMm, settings_.resolution);
    UpdateActivity();
}

void Options::UpdateActivity() {
    auto activate = [this](int index, bool active) {
        SANE_Int& cap = descriptors_[index].cap;
        cap = active ? (cap & ~SANE_CAP_INACTIVE) : (cap | SANE_CAP_INACTIVE);
    };
    activate(kOptThreshold, !IsGray(settings_));
    activate(kOptBrY, settings_.scanLines != 0);
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
            return text(settings_.side == 0 ? kFront : kDuplex);
        case kOptMode:
            return text(IsGray(settings_) ? SANE_VALUE_SCAN_MODE_GRAY
                                          : SANE_VALUE_SCAN_MODE_LINEART);
        case kOptResolution:
            return word(units.dpi);
        case kOptBrX:
            return word(Millimetres(settings_.scanWidth, units.pixelsPerMm));
        case kOptAutoLength:
            return word(settings_.scanLines == 0 ? SANE_TRUE : SANE_FALSE);
        case kOptBrY:
            return word(Millimetres(settings_.scanLines, units.linesPerMm));
        case kOptThreshold:
            return word(settings_.bwSlice);
        case kOptMicr:
            return text(micr_);
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
        if (listed < 0) return SANE_STATUS_INVAL;
        if (!exact) {
            // Only the case differs: the listed spelling is taken (same length).
            std::strcpy(static_cast<char*>(value), d.constraint.string_list[listed]);
            flags |= SANE_INFO_INEXACT;
        }
    }
    SANE_Word* word = static_cast<SANE_Word*>(value);
    const ResolutionUnits units = UnitsOf(settings_.resolution);
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
            const SANE_Word dpi = Nearest(kResolutionList, *word);
            if (dpi != *word) {
                *word = dpi;
                flags |= SANE_INFO_INEXACT;
            }
            // A profile's code that already gives this resolution is kept.
            if (units.dpi != dpi) {
                const int code = CodeForDpi(dpi);
                auto mm = [](int count, int perMm) { return count / static_cast<double>(perMm); };
                settings_.resolution = code;
                settings_.scanWidth = WidthForMm(mm(settings_.scanWidth, units.pixelsPerMm), code);
                if (settings_.scanLines != 0) {
                    settings_.scanLines =
                        LinesForMm(mm(settings_.scanLines, units.linesPerMm), code);
                }
                lastLines_ = LinesForMm(mm(lastLines_, units.linesPerMm), code);
            }
            flags |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptBrX:
        case kOptBrY: {
            const bool across = index == kOptBrX;
            const double mm = SANE_UNFIX(*word);
            int& count = across ? settings_.scanWidth : settings_.scanLines;
            const int perMm = across ? units.pixelsPerMm : units.linesPerMm;
            count = across ? WidthForMm(mm, settings_.resolution)
                           : LinesForMm(mm, settings_.resolution);
            const SANE_Fixed taken = Millimetres(count, perMm);
            if (taken != *word) {
                *word = taken;
                flags |= SANE_INFO_INEXACT;
            }
            flags |= SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptAutoLength: {
            if (*word != SANE_TRUE && *word != SANE_FALSE) return SANE_STATUS_INVAL;
            const bool whole = *word == SANE_TRUE;
            if (whole && settings_.scanLines != 0) {
                lastLines_ = settings_.scanLines;
                settings_.scanLines = 0;
            } else if (!whole && settings_.scanLines == 0) {
                settings_.scanLines = lastLines_;
            }
            UpdateActivity();
            flags |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
            break;
        }
        case kOptThreshold: {
            const SANE_Word v = std::clamp<SANE_Word>(*word, 0, 255);
            if (v != *word) {
                *word = v;
                flags |= SANE_INFO_INEXACT;
            }
            settings_.bwSlice = v;
            break;
        }
        default:
            return SANE_STATUS_INVAL;
    }
    if (info != nullptr) *info = flags;
    return SANE_STATUS_GOOD;
}

SANE_Parameters Options::Parameters() const {
    const FrameShape f = PredictFrame(settings_);
    SANE_Parameters p{};
    p.format = SANE_FRAME_GRAY;
    p.last_frame = SANE_TRUE;
    p.depth = f.depth;
    p.pixels_per_line = f.pixelsPerLine;
    p.bytes_per_line = f.bytesPerLine;
    p.lines = f.lines;
    return p;
}

}  // namespace orvo::sane
