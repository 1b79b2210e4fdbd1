#include "main_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "controls.h"
#include "driver_errors.h"
#include "message_seam.h"
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
    ConnectCommands();
}

MainDialog::~MainDialog() = default;

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

std::string MainDialog::ProfileName() const {
    const int listed = ui_->profileCombo->findText(values_.profileText, Qt::MatchExactly);
    if (listed >= 0) return ui_->profileCombo->itemData(listed).toByteArray().toStdString();
    return values_.profileText.toStdString();
}

void MainDialog::FillImageInformation(const widgets::ImageView& view, const QString& path,
                                      const QString& displayName) {
    const QString extension = QString::fromStdString(location_.extension);
    if (extension != QLatin1String("tif") && extension != QLatin1String("TIF") &&
        extension != QLatin1String("bmp") && extension != QLatin1String("BMP")) {
        return;
    }
    values_.nameText = displayName;
    values_.formatText = extension;
    QFile file(path);
    values_.sizeText = file.open(QIODevice::ReadOnly) ? QString::number(file.size()) : QString();
    values_.widthText = QString::number(view.imageWidth());
    values_.heightText = QString::number(view.imageHeight());
    values_.xResolutionText = QString::number(view.xResolution());
    values_.yResolutionText = QString::number(view.yResolution());
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

    location_ = scanrun::SplitOutputPath(QFile::encodeName(chosen).toStdString());
    outputChosen_ = true;
    untrackedWarned_ = false;
    const int format = scanrun::ImageFormatForExtension(location_.extension);
    // The chosen format holds for this program's batches even when
    // OrvoScan.ini could not take it; the operator is told that it was not
    // stored.
    if (format >= 0 && driver_.ImageFormat(format) == ORVOSCAN_ERR_SETTINGS) {
        ShowDriverError(ORVOSCAN_ERR_SETTINGS);
    }
    values_.prefixText = QFile::decodeName(QByteArray::fromStdString(location_.prefixPath));
    RefreshDialog();
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
        // The batch ends after the cheque in progress; then the window closes.
        closeRequested_ = true;
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
