// The main dialog's values and the one table that binds them to controls:
// "read the dialog" copies every bound control into its member, "refresh the
// dialog" every member into its control, both in the table's order.
#pragma once

#include <QString>
#include <variant>
#include <vector>

class QWidget;

namespace orvo::viewer {

// The dialog's members with their initial values.
struct DialogValues {
    int pixelToPixel = 0;                       // 1010 "Pixel to pixel"
    int fitWidth = 0;                           // 1011 "Fit to width"
    int fitHeight = 0;                          // 1012 "Fit to height"
    int bestFit = 1;                            // 1013 "Best fit"
    QString formatText;                         // 1026 image information: extension
    QString sizeText;                           // 1027 file size in bytes
    QString heightText;                         // 1029
    QString widthText;                          // 1028
    QString zoomText;                           // 1032 whole percent
    QString xResolutionText;                    // 1033
    QString yResolutionText;                    // 1034
    QString prefixText;                         // 1040 prefix path of the output location
    QString profileText;                        // 1039 text of the profile box
    QString statusText;                         // 1041 status line
    int scanView = 1;                           // 1042 "Scan Image view"
    QString scrollText = QStringLiteral("ON");  // 1046 drag-scroll mode
    QString nameText;                           // 1052 display name of the shown file
    QString versionText;                        // 1053 driver version
    int flip = 0;                               // 1064 "Flip second image"
    int deleteAll = 1;                          // 1066 "Delete all files"
    int slideInterval = 200;                    // 1068 slide-show period, ms
    int startNumber = 1;                        // 1072 first document of the next batch
    QString statisticsText;                     // 1075 MICR statistics, cheques with defects
    QString qualityText;                        // 1076 image information: the page's defects
};

enum class BindingKind {
    Control,    // a control object only: nothing is copied
    Check,      // int 0/1 <-> check box
    Text,       // text <-> label or edit
    ComboText,  // text <-> the combo box's edit text
    Integer,    // int <-> number edit; reading needs an integer
};

struct Binding {
    int controlId;
    BindingKind kind;
    std::variant<std::monostate, int DialogValues::*, QString DialogValues::*> member;
};

// The table, in the order the dialog reads and refreshes its controls.
const std::vector<Binding>& DialogBindings();

// The message shown when a number field holds no integer.
inline const QString kIntegerMessage = QStringLiteral("정수를 입력하십시오.");

// Parses a number field: optional blanks, an optional sign, decimal digits,
// optional blanks, and a value within int. False otherwise.
bool ParseInteger(const QString& text, int* value);

// The table bound to the controls of one dialog (found once, by id).
//
// A refresh writes a member into its control when the member differs from
// what that control last showed through the binder (read or written): what
// the operator typed or clicked since the last read is not wiped out by a
// refresh that did not change that member (a SAVE, a slide-show step), while
// every value the program changes is shown.
class DialogBinder {
  public:
    // Every control the table names must be in `dialog`; `missing` lists
    // those that are not.
    explicit DialogBinder(QWidget* dialog);
    const std::vector<int>& missing() const { return missing_; }

    // Reads the dialog into `values`. At a number field without an integer
    // it stops: shows kIntegerMessage, puts the focus there, and returns
    // false; that member and the later ones keep their values.
    bool Read(DialogValues& values) const;
    void Refresh(const DialogValues& values) const;

  private:
    QWidget* dialog_;
    std::vector<QWidget*> controls_;  // one per table entry
    std::vector<int> missing_;
    mutable DialogValues shown_;  // what the controls showed at the last read or write
    mutable bool written_ = false;
};

}  // namespace orvo::viewer
