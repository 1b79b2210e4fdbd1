#include "orvo/quality/check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvo::quality {

const char* DefectName(Defect defect) {
    switch (defect) {
        case Defect::Undersize:
            return "undersize";
        case Defect::Oversize:
            return "oversize";
        case Defect::LengthMismatch:
            return "length-mismatch";
        case Defect::WidthMismatch:
            return "width-mismatch";
        case Defect::Skew:
            return "skew";
        case Defect::TooLight:
            return "too-light";
        case Defect::TooDark:
            return "too-dark";
        case Defect::Blank:
            return "blank";
        case Defect::Streaks:
            return "streaks";
        case Defect::SpotNoise:
            return "spot-noise";
        case Defect::CompressedSize:
            return "compressed-size";
    }
    return "";
}

bool SideReport::Has(Defect d) const {
    return std::find(defects.begin(), defects.end(), d) != defects.end();
}

bool ChequeReport::HasDefects() const {
    return std::any_of(sides.begin(), sides.end(),
                       [](const SideReport& s) { return !s.defects.empty(); });
}

std::vector<Defect> SideDefects(const Limits& limits, const Measures& m, ScanLength length) {
    std::vector<Defect> out;
    const bool gray = m.bitsPerPixel != 1;
    const bool lengthJudged = length == ScanLength::PerDocument;
    // A side too dark to read is too dark, whatever else it shows: not also
    // too light, blank or speckled.
    const bool dark =
        gray ? m.brightness < limits.minBrightness : m.inkPercent > limits.maxBlackPercent;
    // Bilevel sides by their black, gray sides by their levels: a gray side
    // is blank when nothing on it is darker than the paper by more than the
    // paper's own grain.
    const bool blank = !dark && (gray ? m.contrast < limits.blankContrast
                                      : m.inkPercent < limits.blankBlackPercent);
    if ((lengthJudged && m.alongFeedMm < limits.minLengthMm) ||
        m.acrossTrackMm < limits.minHeightMm) {
        out.push_back(Defect::Undersize);
    }
    if ((lengthJudged && m.alongFeedMm > limits.maxLengthMm) ||
        m.acrossTrackMm > limits.maxHeightMm) {
        out.push_back(Defect::Oversize);
    }
    if (!blank && !dark && m.skewFound && std::fabs(m.skewDegrees) > limits.maxSkewDegrees) {
        out.push_back(Defect::Skew);
    }
    const bool light =
        !dark && !blank &&
        (gray ? m.brightness > limits.maxBrightness || m.contrast < limits.minContrast
              : m.inkPercent < limits.minBlackPercent);
    if (light) out.push_back(Defect::TooLight);
    if (dark) out.push_back(Defect::TooDark);
    if (blank) out.push_back(Defect::Blank);
    if (static_cast<int>(m.streakColumns.size()) > limits.maxStreaks) {
        out.push_back(Defect::Streaks);
    }
    if (!dark && m.specksPerSquareInch > limits.maxSpecksPerSquareInch) {
        out.push_back(Defect::SpotNoise);
    }
    if (m.compressed) {
        const int64_t low = gray ? limits.minGrayBytes : limits.minBilevelBytes;
        const int64_t high = gray ? limits.maxGrayBytes : limits.maxBilevelBytes;
        if (m.fileBytes < low || m.fileBytes > high) out.push_back(Defect::CompressedSize);
    }
    return out;
}

ChequeReport CheckCheque(const Limits& limits, const Page* front, const Page* rear,
                         ScanLength length) {
    ChequeReport report;
    for (const Page* page : {front, rear}) {
        if (!page) continue;
        SideReport side;
        side.measures = MeasurePage(*page, limits);
        side.defects = SideDefects(limits, side.measures, length);
        side.sizeJudged = length == ScanLength::PerDocument;
        report.sides.push_back(std::move(side));
    }
    if (report.sides.size() == 2) {
        const Measures& a = report.sides[0].measures;
        const Measures& b = report.sides[1].measures;
        const bool lengths =
            length == ScanLength::PerDocument &&
            std::fabs(a.alongFeedMm - b.alongFeedMm) > limits.maxLengthDifferenceMm;
        const bool widths =
            std::fabs(a.acrossTrackMm - b.acrossTrackMm) > limits.maxWidthDifferenceMm;
        for (SideReport& side : report.sides) {
            if (lengths) side.defects.push_back(Defect::LengthMismatch);
            if (widths) side.defects.push_back(Defect::WidthMismatch);
            std::sort(side.defects.begin(), side.defects.end());
        }
    }
    return report;
}

std::string DefectDetails(const SideReport& side) {
    const Measures& m = side.measures;
    std::string text;
    char value[96];
    for (Defect d : side.defects) {
        switch (d) {
            case Defect::Undersize:
            case Defect::Oversize:
                std::snprintf(value, sizeof value, " %.0f mm along the feed x %.0f mm across",
                              m.alongFeedMm, m.acrossTrackMm);
                break;
            case Defect::LengthMismatch:
                std::snprintf(value, sizeof value, " (length %.0f mm)", m.alongFeedMm);
                break;
            case Defect::WidthMismatch:
                std::snprintf(value, sizeof value, " (width %.0f mm)", m.acrossTrackMm);
                break;
            case Defect::Skew:
                std::snprintf(value, sizeof value, " %.1f degrees", m.skewDegrees);
                break;
            case Defect::TooLight:
            case Defect::TooDark:
            case Defect::Blank:
                if (m.bitsPerPixel == 1) {
                    std::snprintf(value, sizeof value, " %.2f%% black", m.inkPercent);
                } else {
                    std::snprintf(value, sizeof value, " brightness %.0f, contrast %.0f",
                                  m.brightness, m.contrast);
                }
                break;
            case Defect::Streaks:
                std::snprintf(value, sizeof value, " %zu", m.streakColumns.size());
                break;
            case Defect::SpotNoise:
                std::snprintf(value, sizeof value, " %.0f per sq in", m.specksPerSquareInch);
                break;
            case Defect::CompressedSize:
                std::snprintf(value, sizeof value, " %lld bytes",
                              static_cast<long long>(m.fileBytes));
                break;
        }
        if (!text.empty()) text += ", ";
        text += std::string(DefectName(d)) + value;
    }
    return text;
}

std::string DefectList(const std::vector<Defect>& defects, const char* separator) {
    std::string text;
    for (Defect d : defects) {
        if (!text.empty()) text += separator;
        text += DefectName(d);
    }
    return text;
}

}  // namespace orvo::quality
