// SCAN: one batch on the UI thread, one page at a time through the scan-run
// rules (orvo::scanrun::ScanRun); the window repaints between pages.
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/scanrun/run_settings.h"
#include "orvo/scanrun/scan_run.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "profile_names.h"
#include "ui_main_dialog.h"

namespace orvo::viewer {

namespace {

// While a batch runs, the operator's clicks and keys are dropped rather than
// kept for later: a click on a disabled SCAN must not start a second batch
// once the first has ended. Painting, resizing and closing go on.
class BatchInputBlocker : public QObject {
  public:
    BatchInputBlocker() { qApp->installEventFilter(this); }
    ~BatchInputBlocker() override { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
                return true;
            default:
                return false;
        }
    }
};

QString FromLocal(const std::string& bytes) {
    return QString::fromLocal8Bit(QByteArray::fromStdString(bytes));
}

Message Warning(const QString& text) {
    Message message;
    message.icon = MessageIcon::Exclamation;
    message.text = text;
    return message;
}

}  // namespace

void MainDialog::LockForBatch(bool locked) {
    for (QWidget* w :
         {static_cast<QWidget*>(ui_->slideShowButton), static_cast<QWidget*>(ui_->saveButton),
          static_cast<QWidget*>(ui_->settingButton), static_cast<QWidget*>(ui_->qaButton),
          static_cast<QWidget*>(ui_->scanButton), static_cast<QWidget*>(ui_->exitButton),
          static_cast<QWidget*>(ui_->profileCombo)}) {
        w->setEnabled(!locked);
    }
    if (!locked) ui_->startNumberEdit->setEnabled(true);
}

void MainDialog::PumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void MainDialog::ShowPage(const QString& path, const QString& displayName, bool twoSided,
                          bool front) {
    values_.nameText.clear();
    widgets::ImageView* view = front ? ui_->frontView : ui_->rearView;
    view->setImagePath(path);
    view->display();
    if (twoSided && front) {
        view->refresh();
        view->setFrontShown(true);
    }
    if (twoSided && !front && values_.flip) view->flip();
    FillImageInformation(*view, path, displayName);
}

void MainDialog::OnScan() {
    ReadDialog();  // a number field without an integer keeps its old value
    if (values_.profileText.isEmpty()) return;
    if (!outputChosen_) {
        // Without an output location the pages would land in the current
        // directory under names like "000001F.".
        ShowMessage(
            this, Warning(QStringLiteral("Choose where the pages go with SAVE before you scan.")));
        return;
    }

    const std::string profile = ProfileName();

    scanrun::RunSetup setup;
    setup.location = location_;
    setup.profile = profile;
    setup.startNumber = values_.startNumber;
    setup.twoSided = scanrun::ProfileSide(settingsFile_, profile) != 0;
    setup.micr = scanrun::MicrDetect(settingsFile_) != 0;
    scanrun::ScanRun run(driver_, setup);

    // Checked before anything is fed: nothing of an earlier batch is replaced
    // without the operator's yes, and micr.txt can take the records.
    const scanrun::StartCheck check = run.Check();
    if (check.problem == scanrun::StartProblem::PageExists) {
        Message question;
        question.icon = MessageIcon::Question;
        question.buttons = MessageButtons::OkCancel;
        question.text = QStringLiteral(
                            "%1 already exists.\n\nScanning from document %2 replaces "
                            "the pages of an earlier batch. The first number not "
                            "used in this location is %3.\n\nReplace them?")
                            .arg(FromLocal(check.existingPage))
                            .arg(setup.startNumber)
                            .arg(check.continueNumber);
        if (ShowMessage(this, question) != Answer::Ok) return;
        run.AllowOverwrite();
    } else if (check.problem != scanrun::StartProblem::None) {
        ShowMessage(this, Warning(QStringLiteral("The batch was not started:\n\n") +
                                  FromLocal(check.message)));
        return;
    }
    if (!check.frontsWithoutRecord.empty() && !untrackedWarned_) {
        untrackedWarned_ = true;
        Message note;
        note.icon = MessageIcon::Information;
        note.text = QStringLiteral(
                        "%1 front page(s) in %2 have no record in micr.txt, "
                        "e.g. %3.")
                        .arg(check.frontsWithoutRecord.size())
                        .arg(FromLocal(location_.directory))
                        .arg(FromLocal(check.frontsWithoutRecord.front()));
        ShowMessage(this, note);
    }

    // Lock the window for the batch.
    ui_->startNumberEdit->setEnabled(false);
    scanning_ = true;
    run_ = &run;
    widgets::PageList* list = ui_->pageList;
    list->refresh();
    list->setRows(1);
    ui_->frontView->clearDisplay();
    ui_->rearView->clearDisplay();
    for (QString* text : {&values_.nameText, &values_.formatText, &values_.sizeText,
                          &values_.widthText, &values_.heightText, &values_.xResolutionText,
                          &values_.yResolutionText, &values_.zoomText, &values_.statisticsText}) {
        text->clear();
    }
    list->clearCells();
    list->refresh();
    list->setHighlight(2);
    list->setRedraw(true);
    LockForBatch(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    RefreshDialog();
    repaint();
    {
        BatchInputBlocker blocker;
        if (!run.Start()) {
            const scanrun::RunOutcome& outcome = run.outcome();
            if (outcome.driverResult != 0) {
                ShowDriverError(outcome.driverResult);
            } else if (!outcome.problem.empty()) {
                ShowMessage(this, Warning(QStringLiteral("The batch was not started:\n\n") +
                                          FromLocal(outcome.problem)));
            }
        } else {
            values_.statusText = QStringLiteral("Warming up...Please wait...!");
            RefreshDialog();
            BeginChequeQuality(setup);
            const int base = run.page() - 1;
            for (;;) {
                // The start number shows the document being fed.
                values_.startNumber =
                    scanrun::NamePage(location_, setup.twoSided, run.page()).number;
                const scanrun::PageStep step = run.Next();
                if (step.taken) {
                    const int p = step.page;
                    const int row = p - base - 1;
                    const QString path = FromLocal(step.name.path);
                    const QString name = FromLocal(step.name.displayName);
                    values_.statusText = QStringLiteral("Saving %1th page...").arg(p);
                    list->setRows(row + 1);
                    list->setCol(0);
                    list->setRow(row);
                    list->setText(name);
                    list->setTopRow(row);
                    RefreshDialog();
                    if (step.hasRecord) {
                        list->setCellMarking(step.micr.error ? widgets::PageList::kMarkedYellow
                                                             : 0);
                        list->setCol(1);
                        // The record without its line end.
                        list->setText(FromLocal(step.record.substr(0, step.record.size() - 2)));
                        RefreshDialog();
                    }
                    if (values_.scanView) ShowPage(path, name, setup.twoSided, step.name.front);
                    if (setup.micr) {
                        values_.statisticsText = QString::fromStdString(run.statistics().Text());
                    }
                    ChequeQualityAfterPage(step, row);
                    RefreshDialog();
                }
                if (step.ended) break;
                PumpEvents();
                if (closeRequested_) run.RequestStop();
            }
            EndChequeQuality();
            // The driver's message, then what the run found (which page file
            // was not written, a cheque left without its rear page, ...).
            const scanrun::RunOutcome& outcome = run.outcome();
            ShowDriverError(outcome.driverResult);
            if (!outcome.problem.empty()) ShowMessage(this, Warning(FromLocal(outcome.problem)));
            values_.startNumber = outcome.nextStartNumber;
            values_.statusText = QStringLiteral("Scanning finished.");
            RefreshDialog();
        }
        // Clicks and keys that came in during the last page are dropped too.
        PumpEvents();
    }
    run_ = nullptr;

    // Unlock.
    QApplication::restoreOverrideCursor();
    LockForBatch(false);
    ReadDialog();
    RefreshDialog();
    WritePreviousProfile(settingsFile_, profile);
    scanning_ = false;
    if (closeRequested_) {
        closeRequested_ = false;
        close();
    }
}

}  // namespace orvo::viewer
