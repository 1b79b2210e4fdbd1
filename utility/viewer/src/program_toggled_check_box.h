// A check box that does not change its state when clicked: the program's
// handler decides (it inverts its flag and refreshes the dialog).
#pragma once

#include <QCheckBox>

namespace orvo::viewer {

class ProgramToggledCheckBox : public QCheckBox {
    Q_OBJECT
  public:
    using QCheckBox::QCheckBox;

  protected:
    void nextCheckState() override {}
};

}  // namespace orvo::viewer
