// The main dialog of the scanning utility (its only window): the commands,
// the two image views, the page list and the image information. Its values
// live in DialogValues and move to and from the controls through the binding
// table (read / refresh the dialog); every driver failure is shown through
// ShowDriverError; every message box goes through the message seam.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>

#include "dialog_binding.h"
#include "driver_calls.h"
#include "orvo/scanrun/page_naming.h"

namespace Ui {
class MainDialog;
}

namespace orvo::scanrun {
class ScanDriver;
class ScanRun;
}  // namespace orvo::scanrun

namespace orvo::widgets {
class ImageView;
class PageList;
}  // namespace orvo::widgets

namespace orvo::viewer {

class MainDialog : public QDialog {
    Q_OBJECT

  public:
    // `driver` for start, end and version; `scanDriver` for everything a
    // batch and the output format need. Both must outlive the dialog.
    MainDialog(const DriverCalls& driver, scanrun::ScanDriver& scanDriver,
               QWidget* parent = nullptr);
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
    void OnExit();
    void OnToggleScanView();
    void OnToggleFlip();
    void OnToggleDeleteAll();

  protected:
    void reject() override;  // Escape
    void closeEvent(QCloseEvent* event) override;

  private:
    void ConnectCommands();
    void FillProfileBox(const std::vector<std::string>& profiles);
    void EndDialog(int result);
    void LockForBatch(bool locked);
    void ShowPage(const QString& path, const QString& displayName, bool twoSided, bool front);
    void PumpEvents();

    std::unique_ptr<Ui::MainDialog> ui_;
    std::unique_ptr<DialogBinder> binder_;
    DriverCalls driver_;
    scanrun::ScanDriver& scanDriver_;
    DialogValues values_;
    std::string settingsFile_;

    scanrun::OutputLocation location_;
    bool outputChosen_ = false;
    bool untrackedWarned_ = false;  // front pages without a record were reported

    bool driverStarted_ = false;
    bool scanning_ = false;
    bool closeRequested_ = false;  // the window was closed during a batch
    scanrun::ScanRun* run_ = nullptr;

    bool automationHeld_ = false;
    bool endRequested_ = false;  // EXIT, Escape or close while held
    int endResult_ = QDialog::Rejected;
};

}  // namespace orvo::viewer
