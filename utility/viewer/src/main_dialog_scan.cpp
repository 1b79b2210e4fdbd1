// SCAN: one batch through the scan-run rules (orvo::scanrun::ScanRun). The
// driver calls of the batch run on a thread of their own (BatchThread), one
// page at a time as the window asks for it, so the window repaints, moves and
// answers its close button while the scanner feeds; each page is listed and
// shown on the window's thread before the next one is asked for.
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "batch_thread.h"
#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/scanrun/cheque_quality.h"
#include "orvo/scanrun/micr_file.h"
#include "orvo/scanrun/run_settings.h"
#include "orvo/scanrun/scan_run.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "orvoscan.h"
#include "profile_names.h"
#include "ui_main_dialog.h"

namespace orvo::viewer {

namespace {

// While a batch runs, the operator's clicks and keys in the main window are
// dropped rather than kept for later: nothing starts twice, and no setting
// changes under the batch. Painting, moving and closing go on, and every
// other window (a message box above all) takes its input as always.
class BatchInputBlocker : public QObject {
  public:
    explicit BatchInputBlocker(const QWidget* window) : window_(window) {
        qApp->installEventFilter(this);
    }
    ~BatchInputBlocker() override { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
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
            case QEvent::TouchEnd: {
                const auto* widget = qobject_cast<const QWidget*>(receiver);
                return widget != nullptr && widget->window() == window_;
            }
            default:
                return false;
        }
    }

  private:
    const QWidget* window_;
};

QString FromLocal(const std::string& bytes) {
    return QString::fromLocal8Bit(QByteArray::fromStdString(bytes));
}

// Why files cannot be written into `directory` now (" (No space left on
// device)"); empty when nothing there says so.
QString WriteReason(const std::string& directory, const std::string& page) {
    int error = 0;
    struct stat st{};
    struct statvfs fs{};
    if (::lstat(page.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = EISDIR;
    } else if (::statvfs(directory.c_str(), &fs) == 0 && fs.f_bavail == 0) {
        error = ENOSPC;
    } else if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        error = errno;
    }
    if (error == 0) return QString();
    return QStringLiteral("\n\nThe system says: %1.")
        .arg(QString::fromLocal8Bit(std::strerror(error)));
}

// The batch ended before any cheque because none was there.
bool FeederWasEmpty(const scanrun::RunOutcome& outcome) {
    return outcome.end == scanrun::RunEnd::Finished ||
           (outcome.end == scanrun::RunEnd::DriverError &&
            outcome.driverResult == ORVOSCAN_ERR_DEVICE &&
            outcome.deviceError == ORVOSCAN_DEV_NO_DOCUMENT);
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
    if (scanning_) return;
    ReadDialog();  // a number field without an integer keeps its old value
    if (values_.profileText.isEmpty()) {
        ShowMessage(this, Warning(ui_->profileCombo->count() == 0
                                      ? QStringLiteral("There is no profile to scan with: %1 "
                                                       "has none.\n\nType a name into the "
                                                       "profile box and press SETTING to make "
                                                       "one, then SCAN.")
                                            .arg(FromLocal(settingsFile_))
                                      : QStringLiteral("Choose a profile in the box next to the "
                                                       "start number, then SCAN.")));
        return;
    }
    if (!outputChosen_) {
        // Without an output location the pages would land in the current
        // directory under names like "000001F.".
        ShowMessage(
            this, Warning(QStringLiteral("Choose where the pages go with SAVE before you scan.")));
        return;
    }

    const std::string profile = ProfileName();

    const scanrun::RunSetup setup =
        scanrun::MakeRunSetup(location_, settingsFile_, profile, values_.startNumber);
    auto run = std::make_unique<scanrun::ScanRun>(driver_, setup);

    // Checked before anything is fed: nothing of an earlier batch is replaced
    // without the operator's yes, and micr.txt can take the records.
    const scanrun::StartCheck check = run->Check();
    if (check.problem == scanrun::StartProblem::PageExists) {
        Message question;
        question.icon = MessageIcon::Question;
        question.buttons = MessageButtons::OkCancel;
        // Only a number a batch can start from is suggested.
        const QString free =
            check.continueNumber <= scanrun::kLastDocumentNumber
                ? QStringLiteral("The first number not used in this location is %1.")
                      .arg(check.continueNumber)
                : QStringLiteral(
                      "No number is left unused in this location: document "
                      "numbers end at %1. Choose another name or folder with "
                      "SAVE to keep these pages.")
                      .arg(scanrun::kLastDocumentNumber);
        question.text = QStringLiteral(
                            "%1 already exists.\n\nScanning from document %2 replaces "
                            "the pages of an earlier batch. %3\n\nReplace them?")
                            .arg(FromLocal(check.existingPage))
                            .arg(setup.startNumber)
                            .arg(free);
        if (ShowMessage(this, question) != Answer::Ok) return;
        run->AllowOverwrite();
    } else if (check.problem != scanrun::StartProblem::None) {
        ShowMessage(this, Warning(QStringLiteral("The batch was not started:\n\n") +
                                  FromLocal(check.message)));
        return;
    }
    // quality.txt takes a line per cheque: checked like micr.txt.
    {
        std::string reason;
        const std::string qualityPath = scanrun::QualityFilePath(location_);
        if (!scanrun::MicrFileAppendable(qualityPath, &reason)) {
            ShowMessage(this, Warning(QStringLiteral("The batch was not started:\n\n") +
                                      FromLocal(qualityPath + " " + reason)));
            return;
        }
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
    // The pages are written in the format their extension names, whatever
    // the settings file holds now (another program may have changed it).
    // When the file cannot take it, the format still holds for this
    // program's batches; SAVE said so already. (The driver takes the stored
    // format at the batch start, or the one this program could not store,
    // which is always the extension's: the file is written only when it
    // differs, so no batch waits for a settings write.)
    if (scanrun::StoredImageFormat(settingsFile_) != PageFormat()) {
        driver_.ImageFormat(PageFormat());
    }

    // The close button was pressed while a box above was open: the program
    // ends instead.
    if (closeWhenUnblocked_) return;
    batchDpi_ = 0;
    batchDpi_ = ScannedDpi();
    // Lock the window for the batch.
    ui_->startNumberEdit->setEnabled(false);
    scanning_ = true;
    run_ = std::move(run);
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
    focusBeforeBatch_ = focusWidget();
    LockForBatch(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    RefreshDialog();
    repaint();
    inputBlocker_ = std::make_unique<BatchInputBlocker>(this);
    batch_ = std::make_unique<BatchThread>(*run_);
    connect(batch_.get(), &BatchThread::started, this, &MainDialog::OnBatchStarted);
    connect(batch_.get(), &BatchThread::stepped, this, &MainDialog::OnBatchStep);
    batch_->Start();
}

void MainDialog::OnBatchStarted(bool ok) {
    if (!ok) {
        // Once the thread's signal has been handled: the thread goes with the run.
        QMetaObject::invokeMethod(this, [this] { EndBatchRun(false); }, Qt::QueuedConnection);
        return;
    }
    values_.statusText = QStringLiteral("Warming up...Please wait...!");
    // A name OrvoScan.ini has no section for scans with the "Default" settings.
    if (!ProfileListed(run_->setup().profile)) values_.statusText += UnlistedProfileNote();
    BeginChequeQuality(run_->setup());
    batchBase_ = run_->page() - 1;
    AskForPage();
}

void MainDialog::AskForPage() {
    // The start number shows the document being fed.
    const scanrun::PageName next =
        scanrun::NamePage(location_, run_->setup().twoSided, run_->page());
    values_.startNumber = next.number;
    RefreshDialog();
    // A wait for the next cheque that lasts is said on the status line.
    if (next.front && run_->outcome().pagesTaken > 0) waitNote_->start();
    lastAskedPage_ = next.path;
    batch_->Next();
}

QString MainDialog::UnlistedProfileNote() const {
    return QStringLiteral(" Profile \"%1\" is not in OrvoScan.ini: the \"Default\" settings apply.")
        .arg(values_.profileText);
}

void MainDialog::OnWaitNote() {
    if (!scanning_ || closeRequested_) return;
    values_.statusText = QStringLiteral("Waiting for the next cheque...");
    RefreshDialog();
}

void MainDialog::OnBatchStep(const scanrun::PageStep& step) {
    waitNote_->stop();
    const scanrun::RunSetup& setup = run_->setup();
    if (step.taken) {
        widgets::PageList* list = ui_->pageList;
        const int p = step.page;
        const int row = p - batchBase_ - 1;
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
            list->setCellMarking(step.micr.error ? widgets::PageList::kMarkedYellow : 0);
            list->setCol(1);
            // The record without its line end.
            list->setText(FromLocal(step.record.substr(0, step.record.size() - 2)));
            RefreshDialog();
        }
        if (values_.scanView) ShowPage(path, name, setup.twoSided, step.name.front);
        if (setup.micr) values_.statisticsText = QString::fromStdString(run_->statistics().Text());
        ChequeQualityAfterPage(step, row);
        RefreshDialog();
    }
    if (step.ended) {
        QMetaObject::invokeMethod(this, [this] { EndBatchRun(true); }, Qt::QueuedConnection);
        return;
    }
    AskForPage();
}

void MainDialog::EndBatchRun(bool started) {
    batch_.reset();  // the thread has given its last answer and ends
    inputBlocker_.reset();
    QApplication::restoreOverrideCursor();
    const scanrun::RunOutcome outcome = run_->outcome();
    const std::string profile = run_->setup().profile;
    run_.reset();
    EndChequeQuality();  // the last cheque's pages are all on disk

    // The driver's message, then what the run found (which page file was not
    // written, a cheque left without its rear page, ...). The boxes take the
    // operator's clicks and keys like any other.
    ShowDriverError(outcome.driverResult, outcome.deviceError);
    if (!outcome.problem.empty()) {
        QString problem = FromLocal(outcome.problem);
        // A page file that was not written: the system's reason, as far as
        // the output directory tells it.
        if (outcome.end == scanrun::RunEnd::PageNotWritten) {
            problem += WriteReason(location_.directory, lastAskedPage_);
        }
        ShowMessage(this,
                    Warning(started ? problem
                                    : QStringLiteral("The batch was not started:\n\n") + problem));
    }
    if (const QString lost = QualityLinesLostText(); !lost.isEmpty()) {
        ShowMessage(this, Warning(lost));
    }
    if (started) {
        values_.startNumber = outcome.nextStartNumber;
        values_.statusText = QStringLiteral("Scanning finished.");
        if (outcome.pagesTaken == 0 && FeederWasEmpty(outcome)) {
            values_.statusText += QStringLiteral(" No cheque in the feeder.");
        }
        if (!ProfileListed(profile)) values_.statusText += UnlistedProfileNote();
        RefreshDialog();
    }

    // Unlock; the focus goes back where it was (SCAN, when it was pressed).
    LockForBatch(false);
    if (focusBeforeBatch_ && focusBeforeBatch_->isEnabled()) {
        focusBeforeBatch_->setFocus(Qt::OtherFocusReason);
    }
    ReadDialog();
    RefreshDialog();
    // The last used profile; written only when it changed (a settings
    // write waits for the disk).
    if (ReadPreviousProfile(settingsFile_) != profile) WritePreviousProfile(settingsFile_, profile);
    scanning_ = false;
    emit batchEnded();
    if (closeRequested_) {
        closeRequested_ = false;
        close();
    }
}

}  // namespace orvo::viewer
