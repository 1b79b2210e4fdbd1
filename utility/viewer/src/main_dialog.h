// The main dialog of the scanning utility (its only window): the commands,
// the two image views, the page list and the image information. Its values
// live in DialogValues and move to and from the controls through the binding
// table (read / refresh the dialog); every driver failure is shown through
// ShowDriverError; every message box goes through the message seam.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "blocked_close.h"
#include "dialog_binding.h"
#include "orvo/scanrun/page_naming.h"
#include "orvo/scanrun/scan_run.h"

class QTimer;

namespace Ui {
class MainDialog;
}

namespace orvo::scanrun {
class ChequeQuality;
struct CheckedCheque;
class Driver;
class ScanRun;
struct PageStep;
struct RunSetup;
}  // namespace orvo::scanrun

namespace orvo::widgets {
class ImageView;
class PageList;
}  // namespace orvo::widgets

namespace orvo::viewer {

class BatchThread;

class MainDialog : public QDialog {
    Q_OBJECT

  public:
    // Every driver call goes to `driver`, which must outlive the dialog.
    explicit MainDialog(scanrun::Driver& driver, QWidget* parent = nullptr);
    ~MainDialog() override;

    // Dialog initialisation: starts the driver, lists the profiles of
    // OrvoScan.ini, preselects the last used one, shows the driver version,
    // and sets the controls to their first state. Called once, before the
    // dialog is shown.
    void InitDialog();

    // Read the dialog (controls into values); false when a number field held
    // no integer. Refresh the dialog (values into controls).
    bool ReadDialog();
    void RefreshDialog();

    const DialogValues& values() const { return values_; }
    DialogValues& values() { return values_; }
    widgets::ImageView* frontView() const;
    widgets::ImageView* rearView() const;
    widgets::PageList* pageList() const;
    const std::string& settingsFile() const { return settingsFile_; }
    const scanrun::OutputLocation& outputLocation() const { return location_; }
    bool outputChosen() const { return outputChosen_; }
    bool scanning() const { return scanning_; }
    bool driverStarted() const { return driverStarted_; }

    // Shows the message box for a driver result code (none for 0 and -3).
    void ShowDriverError(int code);

    // What SAVE chose, as the operator is shown it: "Pages are saved as TIFF
    // files: A000001F.tif, ...". Empty before the first SAVE.
    QString OutputDescription() const;

    // Fills the image information from `view`, which has just displayed
    // `path` (shown as `displayName`); only for the output extensions "tif",
    // "TIF", "bmp" and "BMP".
    void FillImageInformation(const widgets::ImageView& view, const QString& path,
                              const QString& displayName);

    // While an automation client holds the program, EXIT, Escape and the
    // close button only hide the window. When the hold ends after such a
    // request, the dialog ends.
    void SetAutomationHold(bool held);
    bool automationHeld() const { return automationHeld_; }

    // The commands.
    void OnSave();
    void OnScan();
    void OnSetting();
    void OnQa();
    void OnExit();
    void OnToggleScanView();
    void OnToggleFlip();
    void OnToggleDeleteAll();

  signals:
    // A SCAN has ended: the window is unlocked, every message box of the
    // batch has been answered.
    void batchEnded();

  public:
    // Image display: the zoom modes (check boxes 1010 to 1013), window zoom,
    // the drag-scroll mode, rotation of the view clicked last, and drag
    // scrolling by the views' mouse events.
    struct ViewState {
        int frontActive = 0;  // the view clicked last; never both
        int rearActive = 0;
        int dragScroll = 1;   // drag-scroll mode ON; OFF marks areas instead
        int dragging = 0;     // from a mouse-down to the next mouse-up, mode ON
        int32_t anchorX = 0;  // where the button went down, view coordinates
        int32_t anchorY = 0;
    };
    const ViewState& viewState() const { return view_; }
    void OnPixelToPixel();
    void OnFit(int option);  // 0 best fit, 1 fit to width, 2 fit to height
    void OnWindowZoom();
    void OnToggleDragScroll();
    void OnRotateRight();
    void OnRotateLeft();

    // Saved-file browsing: the file of a page list row in its view, the
    // slide show over the listed pages (one timer), deletion of one row's
    // file or of every listed file.
    struct BrowseState {
        int slideIdle = 1;  // no slide show running
        int rowsLeft = 0;   // rows the running slide show has still to show
        int deleting = 0;   // a delete command runs
    };
    const BrowseState& browseState() const { return browse_; }
    QTimer* slideTimer() const { return slideTimer_; }
    void OnShowRowFile();
    void OnSlideShow();
    void OnSlideStep();
    void OnPageListKey(int key);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void reject() override;  // Escape
    void closeEvent(QCloseEvent* event) override;

  private:
    void ConnectCommands();
    void FillProfileBox(const std::vector<std::string>& profiles);
    // Adds a profile to the box at its place in the sorted list.
    void InsertProfile(const std::string& profile);
    // The profile text as the settings file spells the name: a listed
    // profile keeps its bytes, a typed name is taken as UTF-8.
    std::string ProfileName() const;
    // Whether OrvoScan.ini has a section of this name (any letter case).
    bool ProfileListed(const std::string& profile) const;
    // For the status line: a profile OrvoScan.ini does not list scans with "Default".
    QString UnlistedProfileNote() const;
    // The resolution the shown pages were scanned at: the last batch's, else
    // that of the profile in the box.
    int ScannedDpi() const;
    void EndDialog(int result);
    void LockForBatch(bool locked);
    void ShowPage(const QString& path, const QString& displayName, bool twoSided, bool front);
    void ShowDriverError(int code, uint32_t deviceError);
    // The page format the chosen extension names (ORVOSCAN_FORMAT_*).
    int PageFormat() const;
    // After the settings dialog: the extension follows the format the
    // settings file now holds.
    void FollowStoredFormat();
    void ShowOutputDescription();

    // The batch: started, then one page at a time, then ended (the window
    // unlocked, its messages shown).
    void OnBatchStarted(bool ok);
    void AskForPage();
    void OnWaitNote();  // the next cheque has not come for a while
    void OnBatchStep(const scanrun::PageStep& step);
    void EndBatchRun(bool started);

    void ConnectViewCommands();
    void OnViewClicked(widgets::ImageView* view);
    void OnViewMouseDown(int x, int y);
    void OnViewMouseMove(widgets::ImageView* view, int x, int y);
    void OnViewMouseUp();
    widgets::ImageView* ActiveView() const;

    void ConnectBrowseCommands();
    void ShowRowFile(const QString& cellText);

    // Image quality (main_dialog_quality.cpp): the scan loop starts the
    // checks, hands over every page it listed (at `row`) and ends them; a
    // checked cheque marks its pages with defects in the page list, and the
    // cheques with defects are counted under the MICR statistics.
    void BeginChequeQuality(const scanrun::RunSetup& setup);
    void ChequeQualityAfterPage(const scanrun::PageStep& step, int row);
    void EndChequeQuality();
    void MarkCheque(const scanrun::CheckedCheque& cheque, int lastRow);
    void ShowDefectCount();
    // The defects of a page for its image information: as checked during the
    // batch, else checked now from disk (with its other side when there).
    QString QualityTextFor(const QString& path);
    // The warning about quality.txt lines a batch could not write; empty
    // when every line was written.
    QString QualityLinesLostText() const;

    std::unique_ptr<Ui::MainDialog> ui_;
    std::unique_ptr<DialogBinder> binder_;
    scanrun::Driver& driver_;
    DialogValues values_;
    std::string settingsFile_;

    scanrun::OutputLocation location_;
    bool outputChosen_ = false;
    bool untrackedWarned_ = false;  // front pages without a record were reported

    bool driverStarted_ = false;
    bool scanning_ = false;
    bool closeRequested_ = false;  // the window was closed during a batch
    // The close button while a box or dialog of the program was open: the
    // window closes once none is.
    std::unique_ptr<BlockedCloseFilter> blockedClose_;
    bool closeWhenUnblocked_ = false;
    bool closeQueued_ = false;
    std::unique_ptr<scanrun::ScanRun> run_;
    std::unique_ptr<BatchThread> batch_;  // after run_: it ends before the run goes
    std::unique_ptr<QObject> inputBlocker_;
    int batchDpi_ = 0;   // the resolution of the last batch's pages
    int batchBase_ = 0;  // page counter of the batch's first page, minus 1
    QPointer<QWidget> focusBeforeBatch_;
    QTimer* waitNote_ = nullptr;  // says on the status line that a cheque is awaited
    std::string lastAskedPage_;   // the path of the page asked for last

    std::unique_ptr<scanrun::ChequeQuality> quality_;
    std::map<QString, QString> qualityByPath_;  // the batch's pages: their defects
    QString shownPath_;                         // the page the image information is of
    int lastQualityRow_ = -1;                   // the row of the last page listed
    int qualityLinesLost_ = 0;                  // cheques of the batch without their line
    QString qualityWarning_;                    // why the first of them has none

    ViewState view_;
    BrowseState browse_;
    QTimer* slideTimer_ = nullptr;

    bool automationHeld_ = false;
    bool endRequested_ = false;  // EXIT, Escape or close while held
    int endResult_ = QDialog::Rejected;
};

}  // namespace orvo::viewer
