// The dialog a companion library shows: its form's controls, found by
// `controlId`, are driven by the driver's dialog procedure. Clicks on push
// and radio buttons become commands, the end of a slider movement a
// slider-end notification, and Escape or closing the window command 2.
#pragma once

#include <QDialog>
#include <QMap>

#include "orvo/setup/companion_abi.h"

namespace orvo::dialogs {

class HostDialog : public QDialog {
  public:
    HostDialog(QWidget* owner, const OrvoDialogProcedure* procedure);

    // Once the form is built: finds the controls and routes their signals.
    void Bind();
    // Lets the procedure initialise the dialog, then runs it modally; the
    // result the procedure ended it with.
    int Show();

    // The control services handed to the procedure.
    void SetText(int id, const char* text);
    std::size_t GetText(int id, char* buffer, std::size_t size) const;
    void SetChecked(int id, bool checked);
    bool IsChecked(int id) const;
    void SetControlEnabled(int id, bool enabled);
    void SetSliderRange(int id, int min, int max);
    void SetSliderPos(int id, int pos);
    int SliderPos(int id) const;
    std::size_t GetCaption(char* buffer, std::size_t size) const;
    void SetCaption(const char* text);
    void EndDialog(int result);

  protected:
    void accept() override;
    void reject() override;

  private:
    void Command(int id);
    void SliderEnd(int id);
    QWidget* Control(int id) const { return controls_.value(id, nullptr); }

    const OrvoDialogProcedure* procedure_;
    OrvoDialogControls services_;
    QMap<int, QWidget*> controls_;
    bool ended_ = false;
    int result_ = 0;
};

// Copies UTF-8 text into a buffer of `size` bytes: at most size - 1 bytes,
// never half a character, and a terminating zero. Returns the bytes copied.
std::size_t CopyText(const QString& text, char* buffer, std::size_t size);

}  // namespace orvo::dialogs
