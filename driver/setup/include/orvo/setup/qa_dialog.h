// The QA dialog (template 102): ten sliders over the scanner's QA bytes, and
// a button that sends one of the scanner's two QA actions.
#pragma once

#include <cstdint>
#include <functional>

#include "orvo/setup/dialog_controls.h"

namespace orvo {

namespace qa_id {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kAction = 1000;  // radio buttons 1000, 1001: action 0x40, 0x41
inline constexpr int kSendAction = 1002;
}  // namespace qa_id

// One slider of the dialog: the QA byte it edits, its range 0..max, the text
// that shows its value, and what is subtracted for showing (7 for the
// bytes that are shown as -7 .. 7).
struct QaSlider {
    int slider;
    int max;
    int text;
    int shownOffset;
};
inline constexpr QaSlider kQaSliders[10] = {
    {1003, 14, 1006, 7}, {1009, 14, 1007, 7}, {1010, 63, 1008, 0}, {1012, 14, 1011, 7},
    {1013, 14, 1018, 7}, {1014, 63, 1019, 0}, {1015, 9, 1020, 0},  {1016, 15, 1021, 0},
    {1017, 7, 1022, 0},  {1024, 9, 1025, 0},
};

// What the QA dialog keeps between calls (process-wide).
struct QaSession {
    uint8_t current[10] = {};    // the QA values read from / written to the scanner
    int actionSelector = 0;      // 0: action 0x40, 1: action 0x41
    bool saveRequested = false;  // set by OK, cleared by Cancel
};
QaSession& Qa();

class QaDialog : public DialogProcedure {
  public:
    // `sendAction` sends the QA action of a selector; its result is not shown.
    QaDialog(QaSession& session, std::function<int(int selector)> sendAction)
        : session_(session), sendAction_(std::move(sendAction)) {}

    void OnInit(DialogControls& dialog) override;
    void OnCommand(DialogControls& dialog, int id) override;
    void OnSliderEnd(DialogControls& dialog, int id) override;

  private:
    void ShowValue(DialogControls& dialog, int index);

    QaSession& session_;
    std::function<int(int)> sendAction_;
    uint8_t working_[10] = {};
};

}  // namespace orvo
