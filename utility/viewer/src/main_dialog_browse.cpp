// Saved-file browsing: the page list's rows name the page files of the last
// batch under the current output location; a click shows a row's file in its
// view, the slide show shows every row from the last to the first, and "d" /
// "D" deletes one row's file or every listed file. Only cells of the name
// column that end in a page tail name a file (row_file.h): nothing else is
// ever shown or removed, and micr.txt is never touched.
#include <unistd.h>

#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/widgets/image_view.h"
#include "orvo/widgets/page_list.h"
#include "row_file.h"
#include "ui_main_dialog.h"

namespace orvo::viewer {

namespace {

constexpr int kNameColumn = 0;
constexpr int kDeleteKey = 'd';
constexpr int kDeleteKeyUpper = 'D';
// The shortest period of a window timer; a slide interval of 0 runs at it.
constexpr int kShortestSlideInterval = 10;

// Removes one page file; a file that is gone or cannot be removed is passed
// over. Never a directory.
void RemovePageFile(const std::string& path) {
    (void)::unlink(path.c_str());
}

Message DeleteQuestion(MessageIcon icon, const QString& text) {
    Message message;
    message.icon = icon;
    message.buttons = MessageButtons::OkCancel;
    message.text = text;
    return message;
}

// The page files the listed rows name that are on disk now.
int ListedPageFiles(const widgets::PageList& list, const scanrun::OutputLocation& location) {
    int files = 0;
    for (int i = 0; i < list.rows(); ++i) {
        const std::optional<RowFile> file = RowFileOf(list.cellText(i, kNameColumn), location);
        if (file && ::access(file->path.c_str(), F_OK) == 0) ++files;
    }
    return files;
}

// Where the files go from: the folder, the prefix and how many.
QString DeleteAllScope(int files, const scanrun::OutputLocation& location) {
    const auto local = [](const std::string& bytes) {
        return QFile::decodeName(QByteArray::fromStdString(bytes));
    };
    return QStringLiteral("\n\nFolder: %1\nPrefix: %2\nFiles: %3 page file(s) named in the list")
        .arg(local(location.directory), local(location.fileTitle))
        .arg(files);
}

}  // namespace

void MainDialog::ConnectBrowseCommands() {
    slideTimer_ = new QTimer(this);
    slideTimer_->setObjectName(QStringLiteral("slideShowTimer"));
    connect(slideTimer_, &QTimer::timeout, this, &MainDialog::OnSlideStep);
    connect(ui_->slideShowButton, &QPushButton::clicked, this, &MainDialog::OnSlideShow);
    connect(ui_->pageList, &widgets::PageList::clicked, this, &MainDialog::OnShowRowFile);
    connect(ui_->pageList, &widgets::PageList::cellEntered, this, &MainDialog::OnShowRowFile);
    connect(ui_->pageList, &widgets::PageList::keyPressed, this, &MainDialog::OnPageListKey);
}

void MainDialog::OnShowRowFile() {
    if (browse_.deleting || scanning_) return;
    widgets::PageList* list = ui_->pageList;
    // A MICR record names no page file.
    ShowRowFile(list->col() == kNameColumn ? list->text() : QString());
}

void MainDialog::ShowRowFile(const QString& cellText) {
    if (const std::optional<RowFile> file = RowFileOf(cellText, location_)) {
        widgets::ImageView* view = file->front ? ui_->frontView : ui_->rearView;
        const QString path = QFile::decodeName(QByteArray::fromStdString(file->path));
        view->setImagePath(path);
        view->display();
        FillImageInformation(*view, path, file->displayName);
    }
    RefreshDialog();
}

void MainDialog::OnSlideShow() {
    ReadDialog();  // an interval without an integer keeps the last one
    if (browse_.slideIdle) {
        slideTimer_->start(std::max(values_.slideInterval, kShortestSlideInterval));
        browse_.slideIdle = 0;
        browse_.rowsLeft = ui_->pageList->rows();
        values_.statusText = QStringLiteral("Slide show is processing...");
    } else {
        slideTimer_->stop();
        browse_.slideIdle = 1;
        values_.statusText = QStringLiteral("Slide show is stopped...");
    }
    RefreshDialog();
}

void MainDialog::OnSlideStep() {
    // Also during a batch: the show goes on over whatever the list holds.
    if (browse_.rowsLeft > 0) {
        browse_.rowsLeft -= 1;
        widgets::PageList* list = ui_->pageList;
        list->setRow(browse_.rowsLeft);
        // The row's page, also when the MICR record's cell was current.
        list->setCol(kNameColumn);
        ShowRowFile(list->cellText(browse_.rowsLeft, kNameColumn));
    } else {
        slideTimer_->stop();
        values_.statusText = QStringLiteral(" Slide show is finished...");
        browse_.slideIdle = 1;
    }
    RefreshDialog();
}

void MainDialog::OnPageListKey(int key) {
    if (key != kDeleteKey && key != kDeleteKeyUpper) return;
    browse_.deleting = 1;
    widgets::PageList* list = ui_->pageList;
    if (values_.deleteAll) {
        const int rows = list->rows();
        const Message warning =
            DeleteQuestion(MessageIcon::Exclamation,
                           QStringLiteral("Warning! All files will be deleted...") +
                               DeleteAllScope(ListedPageFiles(*list, location_), location_));
        if (ShowMessage(this, warning) == Answer::Ok) {
            for (int i = 0; i < rows; ++i) {
                list->setRow(i);
                list->setCol(kNameColumn);
                const QString text = list->cellText(i, kNameColumn);
                if (text.isEmpty()) continue;
                if (const std::optional<RowFile> file = RowFileOf(text, location_)) {
                    RemovePageFile(file->path);
                }
                list->setText(QString());
            }
            for (QString* text :
                 {&values_.nameText, &values_.formatText, &values_.sizeText, &values_.widthText,
                  &values_.heightText, &values_.xResolutionText, &values_.yResolutionText,
                  &values_.zoomText, &values_.qualityText}) {
                text->clear();
            }
            list->setRows(0);
            list->clearCells();
            list->refresh();
            ui_->frontView->clearDisplay();
            ui_->rearView->clearDisplay();
        }
    } else {
        const int row = list->row();
        // A cell that names no page file (a MICR record, an emptied cell)
        // asks nothing and removes nothing.
        const std::optional<RowFile> file =
            list->col() == kNameColumn ? RowFileOf(list->text(), location_) : std::nullopt;
        if (file) {
            const QString path = QFile::decodeName(QByteArray::fromStdString(file->path));
            const Message question =
                DeleteQuestion(MessageIcon::Question, path + QStringLiteral(" will be deleted..."));
            if (ShowMessage(this, question) == Answer::Ok) {
                RemovePageFile(file->path);
                list->removeRow(row);
            }
        }
    }
    RefreshDialog();
    browse_.deleting = 0;
}

}  // namespace orvo::viewer
