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

std::vector<Defect> SideDefects(const Limits& limits, const Measures& m) {
    std::vector<Defect> out;
    const bool gray = m.bitsPerPixel != 1;
    // Bilevel sides by their black, gray sides by their levels: a gray side
    // is blank when nothing on it is darker than the paper by more than the
    // paper's own grain.
    const bool blank =
        gray ? m.contrast < limits.blankContrast : m.blackPercent < limits.blankBlackPercent;
    if (m.lengthMm < limits.minLengthMm || m.heightMm < limits.minHeightMm) {
        out.push_back(Defect::Undersize);
    }
    if (m.lengthMm > limits.maxLengthMm || m.heightMm > limits.maxHeightMm) {
        out.push_back(Defect::Oversize);
    }
    if (!blank && m.skewFound && std::fabs(m.skewDegrees) > limits.maxSkewDegrees) {
        out.push_back(Defect::Skew);
    }
    // A side too dark to read is not also too light; a blank side is only blank.
    const bool dark =
        gray ? m.brightness < limits.minBrightness : m.blackPercent > limits.maxBlackPercent;
    const bool light =
        !dark && !blank &&
        (gray ? m.brightness > limits.maxBrightness || m.contrast < limits.minContrast
              : m.blackPercent < limits.minBlackPercent);
    if (light) out.push_back(Defect::TooLight);
    if (dark) out.push_back(Defect::TooDark);
    if (blank) out.push_back(Defect::Blank);
    if (static_cast<int>(m.streakColumns.size()) > limits.maxStreaks) {
        out.push_back(Defect::Streaks);
    }
    if (m.specksPerSquareInch > limits.maxSpecksPerSquareInch) out.push_back(Defect::SpotNoise);
    if (m.compressed) {
        const int64_t low = gray ? limits.minGrayBytes : limits.minBilevelBytes;
        const int64_t high = gray ? limits.maxGrayBytes : limits.maxBilevelBytes;
        if (m.fileBytes < low || m.fileBytes > high) out.push_back(Defect::CompressedSize);
    }
    return out;
}

ChequeReport CheckCheque(const Limits& limits, const Page* front, const Page* rear) {
    ChequeReport report;
    for (const Page* page : {front, rear}) {
        if (!page) continue;
        SideReport side;
        side.measures = MeasurePage(*page, limits);
        side.defects = SideDefects(limits, side.measures);
        report.sides.push_back(std::move(side));
    }
    if (report.sides.size() == 2 &&
        std::fabs(report.sides[0].measures.lengthMm - report.sides[1].measures.lengthMm) >
            limits.maxLengthDifferenceMm) {
        for (SideReport& side : report.sides) {
            side.defects.push_back(Defect::LengthMismatch);
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
                std::snprintf(value, sizeof value, " %.0f x %.0f mm", m.lengthMm, m.heightMm);
                break;
            case Defect::LengthMismatch:
                std::snprintf(value, sizeof value, " (length %.0f mm)", m.lengthMm);
                break;
            case Defect::Skew:
                std::snprintf(value, sizeof value, " %.1f degrees", m.skewDegrees);
                break;
            case Defect::TooLight:
            case Defect::TooDark:
            case Defect::Blank:
                if (m.bitsPerPixel == 1) {
                    std::snprintf(value, sizeof value, " %.2f%% black", m.blackPercent);
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
