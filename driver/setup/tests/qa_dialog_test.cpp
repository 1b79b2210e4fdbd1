// The QA dialog's procedure on a dialog without a screen.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_controls.h"
#include "orvo/setup/qa_dialog.h"

namespace orvo {
namespace {

using test::FakeControls;

struct OpenedQa {
    explicit OpenedQa(QaSession& s)
        : session(s),
          dialog(test::QaTemplateIds(), "QA Settings"),
          procedure(session, [this](int selector) {
              actions.push_back(selector);
              return actionResult;
          }) {
        procedure.OnInit(dialog);
    }
    void Click(int id) { dialog.Click(procedure, id); }

    QaSession& session;
    std::vector<int> actions;
    int actionResult = 0;
    FakeControls dialog;
    QaDialog procedure;
};

QaSession SessionWith(std::initializer_list<uint8_t> bytes) {
    QaSession s;
    std::copy(bytes.begin(), bytes.end(), s.current);
    return s;
}

TEST(QaDialog, SlidersShowTheValuesReadWithTheirRanges) {
    QaSession s = SessionWith({7, 0, 32, 14, 3, 63, 9, 15, 7, 0});
    OpenedQa o(s);
    const int expectedMax[10] = {14, 14, 63, 14, 14, 63, 9, 15, 7, 9};
    const char* expectedText[10] = {"0", "-7", "32", "7", "-4", "63", "9", "15", "7", "0"};
    for (int i = 0; i < 10; ++i) {
        const auto slider = o.dialog.SliderAt(kQaSliders[i].slider);
        EXPECT_EQ(slider.min, 0) << i;
        EXPECT_EQ(slider.max, expectedMax[i]) << i;
        EXPECT_EQ(slider.pos, s.current[i]) << i;
        EXPECT_EQ(o.dialog.Text(kQaSliders[i].text), expectedText[i]) << i;
    }
}

TEST(QaDialog, SliderEndsAreShownAsMinusSevenAndSeven) {
    QaSession s = SessionWith({7, 7, 32, 7, 7, 32, 5, 8, 4, 5});
    OpenedQa o(s);
    o.dialog.MoveSlider(o.procedure, 1003, 0);
    EXPECT_EQ(o.dialog.Text(1006), "-7");
    o.dialog.MoveSlider(o.procedure, 1003, 14);
    EXPECT_EQ(o.dialog.Text(1006), "7");
    o.dialog.MoveSlider(o.procedure, 1003, 99);  // beyond the range
    EXPECT_EQ(o.dialog.Text(1006), "7");
}

TEST(QaDialog, OkWithoutMovingKeepsTheBytesReadAndAsksForTheWrite) {
    QaSession s = SessionWith({7, 7, 32, 7, 7, 32, 5, 8, 4, 5});
    uint8_t before[10];
    std::memcpy(before, s.current, 10);
    OpenedQa o(s);
    o.Click(qa_id::kOk);
    EXPECT_EQ(o.dialog.Ended(), 1);
    EXPECT_TRUE(s.saveRequested);
    EXPECT_EQ(std::memcmp(s.current, before, 10), 0);
}

TEST(QaDialog, OkTakesEveryMovedSlider) {
    QaSession s = SessionWith({7, 7, 32, 7, 7, 32, 5, 8, 4, 5});
    OpenedQa o(s);
    const int target[10] = {0, 14, 63, 1, 2, 0, 9, 15, 7, 9};
    for (int i = 0; i < 10; ++i) o.dialog.MoveSlider(o.procedure, kQaSliders[i].slider, target[i]);
    EXPECT_EQ(o.dialog.Text(1025), "9");
    EXPECT_EQ(o.dialog.Text(1011), "-6");
    o.Click(qa_id::kOk);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(s.current[i], target[i]) << i;
}

TEST(QaDialog, CancelKeepsTheValuesAndAsksForNoWrite) {
    QaSession s = SessionWith({7, 7, 32, 7, 7, 32, 5, 8, 4, 5});
    s.saveRequested = true;
    OpenedQa o(s);
    o.dialog.MoveSlider(o.procedure, 1010, 1);
    o.Click(qa_id::kCancel);
    EXPECT_EQ(o.dialog.Ended(), 0);
    EXPECT_FALSE(s.saveRequested);
    EXPECT_EQ(s.current[2], 32);
}

TEST(QaDialog, ActionSelectorIsKeptBetweenOpenings) {
    QaSession s = SessionWith({7, 7, 32, 7, 7, 32, 5, 8, 4, 5});
    {
        OpenedQa first(s);
        EXPECT_TRUE(first.dialog.Checked(qa_id::kAction));
        first.Click(qa_id::kSendAction);
        first.Click(qa_id::kAction + 1);
        first.Click(qa_id::kSendAction);
        EXPECT_EQ(first.actions, (std::vector<int>{0, 1}));
        first.Click(qa_id::kCancel);
    }
    EXPECT_EQ(s.actionSelector, 1);
    OpenedQa second(s);
    EXPECT_TRUE(second.dialog.Checked(qa_id::kAction + 1));
    EXPECT_FALSE(second.dialog.Checked(qa_id::kAction));
    second.Click(qa_id::kSendAction);
    EXPECT_EQ(second.actions, (std::vector<int>{1}));
}

TEST(QaDialog, AFailedActionLeavesTheDialogOpen) {
    QaSession s;
    OpenedQa o(s);
    o.actionResult = -6;
    o.Click(qa_id::kSendAction);
    EXPECT_FALSE(o.dialog.Ended().has_value());
    o.Click(qa_id::kOk);
    EXPECT_EQ(o.dialog.Ended(), 1);
}

}  // namespace
}  // namespace orvo
