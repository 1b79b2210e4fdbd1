#include "main_dialog.h"

#include <sys/stat.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "batch_thread.h"
#include "controls.h"
#include "driver_errors.h"
#include "focus_ring.h"
#include "message_seam.h"
#include "orvo/core/profile_values.h"
#include "orvo/core/scan_kinds.h"
#include "orvo/platform/profile.h"
#include "orvo/scanrun/cheque_quality.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/scanrun/run_settings.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "orvoscan.h"
#include "profile_names.h"
#include "ui_main_dialog.h"

namespace orvo::viewer {

namespace {

// Page list column widths in twips.
constexpr int kNameColumnTwips = 900;
constexpr int kRecordColumnTwips = 4500;
// The dots per inch the driver states in the pages of a profile's batch
// (its key Resolution, as the page writers turn it into TIFF resolutions).
int ProfileDpi(const std::string& settingsFile, const std::string& profile) {
    const std::string section =
        profile_values::LoadedSection(platform::ProfileSectionNames(settingsFile), profile);
    switch (platform::ProfileInt(section, "Resolution", 0, settingsFile)) {
        case 0:
        case 3:
            return 200;
        case 1:
        case 4:
        case 5:
            return 300;
        case 2:
            return 100;
        default:
            return 0;
    }
}

// How long the next cheque may take before the status line says it is awaited.
constexpr int kWaitNoteMs = 1500;

}  // namespace

MainDialog::MainDialog(scanrun::Driver& driver, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::MainDialog>()), driver_(driver) {
    ui_->setupUi(this);
    binder_ = std::make_unique<DialogBinder>(this);
    Q_ASSERT_X(binder_->missing().empty(), "MainDialog", "a bound control is missing");
    // Digits only, as the template's number edits.
    ui_->startNumberEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    ui_->slideIntervalEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    setWindowIcon(QIcon(QStringLiteral(":/orvo_viewer/orvo_viewer.xpm")));
    InstallFocusRing(this);
    waitNote_ = new QTimer(this);
    waitNote_->setSingleShot(true);
    waitNote_->setInterval(kWaitNoteMs);
    connect(waitNote_, &QTimer::timeout, this, &MainDialog::OnWaitNote);
    // Return in the profile box presses the default button, as in the
    // start-number box (the box itself would keep the key).
    ui_->profileCombo->installEventFilter(this);
    ConnectCommands();
    blockedClose_ = std::make_unique<BlockedCloseFilter>(this, [this] {
        closeWhenUnblocked_ = true;
        ui_->statusLabel->setText(QStringLiteral("The program ends when the open box is closed."));
    });
}

bool MainDialog::event(QEvent* event) {
    if (event->type() == QEvent::WindowUnblocked && closeWhenUnblocked_ && !closeQueued_) {
        closeQueued_ = true;
        // Once the code that opened the box has gone on (it starts nothing
        // new meanwhile); a box it opens next is closed first.
        QTimer::singleShot(0, this, [this] {
            closeQueued_ = false;
            if (QGuiApplication::modalWindow() != nullptr) return;
            closeWhenUnblocked_ = false;
            close();
        });
    }
    return QDialog::event(event);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->profileCombo && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !ui_->profileCombo->view()->isVisible()) {
            QDialog::keyPressEvent(key);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

MainDialog::~MainDialog() {
    // A batch still running ends here: the wait for a page at once, then the
    // driver batch (members go in reverse order: the thread before the run).
    batch_.reset();
    if (scanning_) QApplication::restoreOverrideCursor();
}

widgets::ImageView* MainDialog::frontView() const {
    return ui_->frontView;
}

widgets::ImageView* MainDialog::rearView() const {
    return ui_->rearView;
}

widgets::PageList* MainDialog::pageList() const {
    return ui_->pageList;
}

void MainDialog::ConnectCommands() {
    connect(ui_->saveButton, &QPushButton::clicked, this, &MainDialog::OnSave);
    connect(ui_->scanButton, &QPushButton::clicked, this, &MainDialog::OnScan);
    connect(ui_->settingButton, &QPushButton::clicked, this, &MainDialog::OnSetting);
    connect(ui_->qaButton, &QPushButton::clicked, this, &MainDialog::OnQa);
    connect(ui_->exitButton, &QPushButton::clicked, this, &MainDialog::OnExit);
    connect(ui_->scanViewCheck, &QCheckBox::clicked, this, &MainDialog::OnToggleScanView);
    connect(ui_->flipCheck, &QCheckBox::clicked, this, &MainDialog::OnToggleFlip);
    connect(ui_->deleteAllCheck, &QCheckBox::clicked, this, &MainDialog::OnToggleDeleteAll);
    ConnectViewCommands();
    ConnectBrowseCommands();
}

bool MainDialog::ReadDialog() {
    return binder_->Read(values_);
}

void MainDialog::RefreshDialog() {
    binder_->Refresh(values_);
}

void MainDialog::ShowDriverError(int code) {
    viewer::ShowDriverError(this, code, [this] { return driver_.GetDeviceError(); });
}

void MainDialog::ShowDriverError(int code, uint32_t deviceError) {
    viewer::ShowDriverError(this, code, [deviceError] { return deviceError; });
}

void MainDialog::InitDialog() {
    const int started = driver_.Init();
    driverStarted_ = started == ORVOSCAN_OK;
    if (driverStarted_) {
        values_.statusText = QStringLiteral("Ready to scan...");
        ui_->scanButton->setEnabled(true);
    } else {
        ShowDriverError(started);
        values_.statusText = QStringLiteral("Scanner initialization error...");
        ui_->scanButton->setEnabled(false);
        ui_->settingButton->setEnabled(false);
        ui_->qaButton->setEnabled(false);
        ui_->saveButton->setEnabled(false);
    }

    settingsFile_ = scanrun::SettingsFilePath(scanrun::DriverSystemDir());
    FillProfileBox(scanrun::ListProfiles(settingsFile_));
    values_.profileText = ProfileDisplayName(ReadPreviousProfile(settingsFile_));
    // No last used profile yet (a first start): the first one listed.
    if (values_.profileText.isEmpty() && ui_->profileCombo->count() > 0) {
        values_.profileText = ui_->profileCombo->itemText(0);
    }

    ui_->frontView->fit(widgets::ImageView::BestFit);
    ui_->rearView->fit(widgets::ImageView::BestFit);

    const char* version = driver_.Version();
    values_.versionText = version ? QString::fromLocal8Bit(version) : QString();

    widgets::PageList* list = ui_->pageList;
    list->setCols(2);
    list->setRows(0);
    list->setColumnWidthTwips(0, kNameColumnTwips);
    list->setColumnWidthTwips(1, kRecordColumnTwips);

    scanning_ = false;
    RefreshDialog();
    // The first control in tab order that can take the focus.
    for (QWidget* w :
         {static_cast<QWidget*>(ui_->saveButton), static_cast<QWidget*>(ui_->settingButton),
          static_cast<QWidget*>(ui_->scanButton), static_cast<QWidget*>(ui_->exitButton)}) {
        if (w->isEnabled()) {
            w->setFocus(Qt::OtherFocusReason);
            break;
        }
    }
}

void MainDialog::FillProfileBox(const std::vector<std::string>& profiles) {
    ui_->profileCombo->clear();
    for (const std::string& profile : profiles) InsertProfile(profile);
}

void MainDialog::InsertProfile(const std::string& profile) {
    QComboBox* box = ui_->profileCombo;
    const QString name = ProfileDisplayName(profile);
    // The box keeps its items sorted, letter case aside.
    int at = 0;
    while (at < box->count() &&
           QString::compare(box->itemText(at), name, Qt::CaseInsensitive) <= 0) {
        ++at;
    }
    box->insertItem(at, name, QByteArray::fromStdString(profile));
}

int MainDialog::ScannedDpi() const {
    if (batchDpi_ > 0) return batchDpi_;
    return ProfileDpi(settingsFile_, ProfileName());
}

bool MainDialog::ProfileListed(const std::string& profile) const {
    for (const std::string& listed : scanrun::ListProfiles(settingsFile_)) {
        if (QString::fromStdString(listed).compare(QString::fromStdString(profile),
                                                   Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

std::string MainDialog::ProfileName() const {
    const int listed = ui_->profileCombo->findText(values_.profileText, Qt::MatchExactly);
    if (listed >= 0) return ui_->profileCombo->itemData(listed).toByteArray().toStdString();
    return values_.profileText.toStdString();
}

void MainDialog::FillImageInformation(const widgets::ImageView& view, const QString& path,
                                      const QString& displayName) {
    // Only for image files: TIFF and bitmap pages.
    const QString extension = QString::fromStdString(location_.extension);
    const int format = scanrun::PageFormatForExtension(location_.extension);
    if (format != ORVOSCAN_FORMAT_TIFF && format != ORVOSCAN_FORMAT_DIB) return;
    values_.nameText = displayName;
    values_.formatText = extension;
    QFile file(path);
    values_.sizeText = file.open(QIODevice::ReadOnly) ? QString::number(file.size()) : QString();
    values_.widthText = QString::number(view.imageWidth());
    values_.heightText = QString::number(view.imageHeight());
    // A page that states no resolution (bitmaps) shows the one it was scanned at.
    const int scanned = view.xResolution() > 0 && view.yResolution() > 0 ? 0 : ScannedDpi();
    values_.xResolutionText =
        QString::number(view.xResolution() > 0 ? view.xResolution() : scanned);
    values_.yResolutionText =
        QString::number(view.yResolution() > 0 ? view.yResolution() : scanned);
    values_.zoomText = QString::number(static_cast<int>(view.zoom()));
    values_.qualityText = QualityTextFor(path);
}

void MainDialog::OnSave() {
    SaveRequest request;
    request.title = QStringLiteral("Scan file name prefix");
    request.initialName = QStringLiteral("A");
    request.directory = outputChosen_ ? QString::fromStdString(location_.directory) : QString();
    request.filters = {QStringLiteral("TIFF Image Files (*.tif)"),
                       QStringLiteral("Bitmap Image Files (*.bmp)"),
                       QStringLiteral("Raw Data Files (*.raw)")};
    const QString chosen = AskSavePath(this, request);
    if (chosen.isEmpty()) return;

    const scanrun::OutputLocation location =
        scanrun::SplitOutputPath(QFile::encodeName(chosen).toStdString());
    // The extension names the format of every page: a name that names none
    // of the three would not say what the file holds.
    const int format = scanrun::PageFormatForExtension(location.extension);
    if (!IsImageFormat(format)) {
        Message message;
        message.icon = MessageIcon::Exclamation;
        message.text = QStringLiteral(
                           "%1: pages are saved as TIFF (.tif), bitmap (.bmp) or raw data "
                           "(.raw) files. Choose a name with one of these extensions.")
                           .arg(QFileInfo(chosen).fileName());
        ShowMessage(this, message);
        return;
    }
    // The pages go into a folder that is there now.
    struct stat st{};
    QString folderProblem;
    const std::string folder = location.directory.empty() ? "/" : location.directory;
    if (::stat(folder.c_str(), &st) != 0) {
        folderProblem = QString::fromLocal8Bit(std::strerror(errno));
    } else if (!S_ISDIR(st.st_mode)) {
        folderProblem = QStringLiteral("not a folder");
    }
    if (!folderProblem.isEmpty()) {
        Message message;
        message.icon = MessageIcon::Exclamation;
        message.text = QStringLiteral("%1: %2. Choose an existing folder.")
                           .arg(QFile::decodeName(QByteArray::fromStdString(location.directory)),
                                folderProblem);
        ShowMessage(this, message);
        return;
    }
    location_ = location;
    outputChosen_ = true;
    untrackedWarned_ = false;
    // The chosen format holds for this program's batches even when
    // OrvoScan.ini could not take it; the operator is told that it was not
    // stored.
    if (driver_.ImageFormat(format) == ORVOSCAN_ERR_SETTINGS) {
        ShowDriverError(ORVOSCAN_ERR_SETTINGS);
    }
    values_.prefixText = QFile::decodeName(QByteArray::fromStdString(location_.prefixPath));
    ShowOutputDescription();
}

int MainDialog::PageFormat() const {
    return scanrun::PageFormatForExtension(location_.extension);
}

QString MainDialog::OutputDescription() const {
    if (!outputChosen_) return QString();
    static const char* const kKinds[] = {"TIFF", "bitmap", "raw data"};
    const int format = PageFormat();
    const QString kind = IsImageFormat(format) ? QLatin1String(kKinds[format]) : QString();
    // The name of the next batch's first page.
    const std::string profile = ProfileName();
    const bool twoSided = profile.empty() || scanrun::ProfileSide(settingsFile_, profile) != 0;
    const scanrun::PageName first =
        scanrun::NamePage(location_, twoSided, scanrun::FirstPage(values_.startNumber, twoSided));
    return QStringLiteral("Pages are saved as %1 files: %2.%3, ...")
        .arg(kind, QFile::decodeName(QByteArray::fromStdString(first.displayName)),
             QFile::decodeName(QByteArray::fromStdString(location_.extension)));
}

void MainDialog::ShowOutputDescription() {
    values_.statusText = OutputDescription();
    ui_->prefixEdit->setToolTip(values_.statusText);
    RefreshDialog();
}

void MainDialog::FollowStoredFormat() {
    if (!outputChosen_) return;
    const int stored = scanrun::StoredImageFormat(settingsFile_);
    if (stored == PageFormat() || stored < 0 || stored > 2) return;
    location_.extension = scanrun::ExtensionForPageFormat(stored, location_.extension);
    ShowOutputDescription();
}

void MainDialog::OnToggleScanView() {
    ReadDialog();
    values_.scanView = values_.scanView ? 0 : 1;
    RefreshDialog();
}

void MainDialog::OnToggleFlip() {
    ReadDialog();
    values_.flip = values_.flip ? 0 : 1;
    RefreshDialog();
}

void MainDialog::OnToggleDeleteAll() {
    ReadDialog();
    values_.deleteAll = values_.deleteAll ? 0 : 1;
    RefreshDialog();
}

void MainDialog::EndDialog(int result) {
    if (automationHeld_) {
        endRequested_ = true;
        endResult_ = result;
        hide();
        return;
    }
    QDialog::done(result);
}

void MainDialog::OnExit() {
    if (automationHeld_) {
        EndDialog(QDialog::Accepted);
        return;
    }
    if (!ReadDialog()) return;
    EndDialog(QDialog::Accepted);
}

void MainDialog::reject() {
    if (scanning_) return;
    EndDialog(QDialog::Rejected);
}

void MainDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (scanning_) {
        // The batch ends after the cheque in progress, then the window
        // closes; a second close ends it at once.
        if (closeRequested_) {
            if (batch_) {
                batch_->Interrupt();
                batch_->Interrupt();
            }
            return;
        }
        closeRequested_ = true;
        values_.statusText = QStringLiteral("Closing after the cheque in progress...");
        RefreshDialog();
        // The driver ends the batch after the cheque the scanner is reading,
        // at once while it waits for one; the pages it still hands over are
        // saved as usual.
        if (batch_) batch_->Interrupt();
        return;
    }
    driver_.End();
    if (automationHeld_) {
        EndDialog(QDialog::Rejected);
        return;
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void MainDialog::SetAutomationHold(bool held) {
    automationHeld_ = held;
    if (!held && endRequested_) {
        endRequested_ = false;
        QDialog::done(endResult_);
    }
}

}  // namespace orvo::viewer
