#include "orvo/setup/qa_dialog.h"

#include <algorithm>
#include <cstring>

namespace orvo {

QaSession& Qa() {
    static QaSession session;
    return session;
}

void QaDialog::ShowValue(DialogControls& dialog, int index) {
    const QaSlider& q = kQaSliders[index];
    SetItemInt(dialog, q.text, working_[index] - q.shownOffset);
}

void QaDialog::OnInit(DialogControls& dialog) {
    std::memcpy(working_, session_.current, sizeof working_);
    for (int i = 0; i < 10; ++i) {
        const QaSlider& q = kQaSliders[i];
        dialog.SetSliderRange(q.slider, 0, q.max);
        dialog.SetSliderPos(q.slider, working_[i]);
        ShowValue(dialog, i);
    }
    // The action kept from an earlier opening is the one shown: the send
    // button never sends an action other than the one the operator sees.
    CheckRadioGroup(dialog, qa_id::kAction, qa_id::kAction + 1, session_.actionSelector);
}

void QaDialog::OnSliderEnd(DialogControls& dialog, int id) {
    dialog.SetSliderPos(id, std::clamp(dialog.SliderPos(id), 0, 255));
    for (int i = 0; i < 10; ++i) {
        working_[i] = static_cast<uint8_t>(dialog.SliderPos(kQaSliders[i].slider));
        ShowValue(dialog, i);
    }
}

void QaDialog::OnCommand(DialogControls& dialog, int id) {
    switch (id) {
        case qa_id::kAction:
        case qa_id::kAction + 1:
            session_.actionSelector = id - qa_id::kAction;
            CheckRadioGroup(dialog, qa_id::kAction, qa_id::kAction + 1, session_.actionSelector);
            break;
        case qa_id::kSendAction:
            // A failed action leaves the dialog open, without a message.
            sendAction_(session_.actionSelector);
            break;
        case qa_id::kOk:
            // The four sliders shown as -7 .. 7 are read once more.
            for (int i : {0, 1, 3, 4}) {
                working_[i] = static_cast<uint8_t>(dialog.SliderPos(kQaSliders[i].slider));
            }
            std::memcpy(session_.current, working_, sizeof working_);
            session_.saveRequested = true;
            dialog.EndDialog(1);
            break;
        case qa_id::kCancel:
            session_.saveRequested = false;
            dialog.EndDialog(0);
            break;
        default:
            break;
    }
}

}  // namespace orvo
