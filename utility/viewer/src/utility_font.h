// The utility's font: Latin text (digits, full stops, the driver's version)
// in a Latin face and Hangul in NanumGothic. At small sizes NanumGothic's full
// stop looks like a comma ("80,00%"), so it only draws what the Latin face
// has no glyph for.
#pragma once

class QFont;

namespace orvo::viewer {

// `base` with the family list: the face it resolves to when that is a Latin
// face (else DejaVu Sans), then NanumGothic.
QFont UtilityFont(const QFont& base);

}  // namespace orvo::viewer
