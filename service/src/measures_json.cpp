#include "measures_json.h"

namespace orvoscand {

nlohmann::json MeasuresJson(const orvo::quality::SideReport& side) {
    namespace q = orvo::quality;
    const q::Measures& m = side.measures;
    nlohmann::json defects = nlohmann::json::array();
    for (q::Defect d : side.defects) defects.push_back(q::DefectName(d));
    nlohmann::json out = {{"defects", defects},
                          {"width", m.width},
                          {"height", m.height},
                          {"bitsPerPixel", m.bitsPerPixel},
                          {"xDpi", m.xDpi},
                          {"yDpi", m.yDpi},
                          {"pagesInFile", m.pagesInFile},
                          {"alongFeedPixels", m.alongFeedPixels},
                          {"alongFeedMm", m.alongFeedMm},
                          {"acrossTrackPixels", m.acrossTrackPixels},
                          {"acrossTrackMm", m.acrossTrackMm},
                          {"skewDegrees", m.skewFound ? nlohmann::json(m.skewDegrees) : nullptr},
                          {"blackPercent", m.blackPercent},
                          {"inkPercent", m.inkPercent},
                          {"streaks", m.streakColumns.size()},
                          {"streakColumns", m.streakColumns},
                          {"specks", m.specks},
                          {"specksPerSquareInch", m.specksPerSquareInch},
                          {"fileBytes", m.fileBytes},
                          {"compressed", m.compressed}};
    if (!side.sizeJudged) out["sizeJudged"] = false;
    if (m.resolutionAssumed) out["resolutionAssumed"] = true;
    if (m.bitsPerPixel != 1) {
        out["brightness"] = m.brightness;
        out["contrast"] = m.contrast;
        out["cutLevel"] = m.cutLevel;
    }
    return out;
}

}  // namespace orvoscand
