// The dialog services the setup and QA dialogs are written against: controls
// addressed by their id, as the dialog templates number them. The companion
// libraries implement them over their forms; tests use a fake.
#pragma once

#include <cstddef>
#include <string>

namespace orvo {

class DialogControls {
  public:
    virtual ~DialogControls() = default;

    // Text of an edit, a text field or a button.
    virtual void SetItemText(int id, const std::string& text) = 0;
    // The control's text as read into a buffer of `bufferSize` bytes: at most
    // bufferSize - 1 bytes, never a character cut in half.
    virtual std::string ItemText(int id, std::size_t bufferSize) = 0;

    // Radio buttons.
    virtual void SetChecked(int id, bool checked) = 0;
    virtual bool IsChecked(int id) = 0;

    virtual void Enable(int id, bool enabled) = 0;

    // Sliders (trackbars). A position outside the range is moved into it.
    virtual void SetSliderRange(int id, int min, int max) = 0;
    virtual void SetSliderPos(int id, int pos) = 0;
    virtual int SliderPos(int id) = 0;

    // The dialog's caption, as read into a buffer of `bufferSize` bytes.
    virtual std::string Caption(std::size_t bufferSize) = 0;
    virtual void SetCaption(const std::string& text) = 0;

    // Ends the modal dialog once the current notification is handled; the
    // dialog call returns `result`.
    virtual void EndDialog(int result) = 0;
};

// A dialog procedure: what the driver does when the dialog opens, when a
// button or radio button is clicked, and when a slider movement ends.
class DialogProcedure {
  public:
    virtual ~DialogProcedure() = default;
    virtual void OnInit(DialogControls& dialog) = 0;
    virtual void OnCommand(DialogControls& dialog, int id) = 0;
    virtual void OnSliderEnd(DialogControls& dialog, int id) = 0;
};

// Shows a number with "%d".
void SetItemInt(DialogControls& dialog, int id, int value);

// Reads a number typed into an edit (up to bufferSize - 1 characters):
// blanks, an optional sign and the leading digits, like the C library's
// decimal conversion; text without digits reads as 0. The value is kept in
// [min, max]: digits that overflow an int give the nearer bound instead of
// garbage.
int ItemNumber(DialogControls& dialog, int id, std::size_t bufferSize, int min, int max);

// The decimal conversion of ItemNumber on a text, saturated to [min, max].
int LeadingNumber(const std::string& text, int min, int max);

// Checks first + value of the radio group first..last and clears the others;
// a value outside the group clears them all.
void CheckRadioGroup(DialogControls& dialog, int first, int last, int value);

}  // namespace orvo
