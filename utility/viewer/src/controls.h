// Controls of a form are addressed by their numeric id: every control of the
// main dialog carries it as the dynamic property "controlId" (e.g. SCAN is
// 1038). The binding table, the command handlers and the tests find controls
// only through these helpers.
#pragma once

#include <QWidget>

namespace orvo::viewer {

inline constexpr char kControlIdProperty[] = "controlId";

// The control of `form` with this id; nullptr when there is none.
QWidget* FindControl(const QWidget* form, int id);

template <class T>
T* Control(const QWidget* form, int id) {
    return qobject_cast<T*>(FindControl(form, id));
}

// Control ids of the main dialog.
namespace id {
inline constexpr int kExit = 1;
inline constexpr int kFrontView = 1001;
inline constexpr int kPixelToPixel = 1010;
inline constexpr int kFitWidth = 1011;
inline constexpr int kFitHeight = 1012;
inline constexpr int kBestFit = 1013;
inline constexpr int kFormatText = 1026;
inline constexpr int kSizeText = 1027;
inline constexpr int kWidthText = 1028;
inline constexpr int kHeightText = 1029;
inline constexpr int kZoomText = 1032;
inline constexpr int kXResolutionText = 1033;
inline constexpr int kYResolutionText = 1034;
inline constexpr int kSave = 1035;
inline constexpr int kSetting = 1036;
inline constexpr int kQa = 1037;
inline constexpr int kScan = 1038;
inline constexpr int kProfile = 1039;
inline constexpr int kPrefixText = 1040;
inline constexpr int kStatusText = 1041;
inline constexpr int kScanView = 1042;
inline constexpr int kWindowZoom = 1044;
inline constexpr int kScroll = 1045;
inline constexpr int kScrollText = 1046;
inline constexpr int kRotateRight = 1047;
inline constexpr int kRotateLeft = 1048;
inline constexpr int kNameText = 1052;
inline constexpr int kVersionText = 1053;
inline constexpr int kRearView = 1062;
inline constexpr int kFlip = 1064;
inline constexpr int kPageList = 1065;
inline constexpr int kDeleteAll = 1066;
inline constexpr int kSlideShow = 1067;
inline constexpr int kSlideInterval = 1068;
inline constexpr int kStartNumber = 1072;
inline constexpr int kStatistics = 1075;
inline constexpr int kQualityText = 1076;
}  // namespace id

}  // namespace orvo::viewer
