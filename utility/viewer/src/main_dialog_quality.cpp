// Image quality in the window: every cheque of a batch is checked as soon as
// its pages are on disk (orvo::scanrun::ChequeQuality, which also appends
// quality.txt); its pages with defects are marked light red in the page
// list's second column (the MICR error's yellow stays on the name), the
// shown page's defects join its image information, and the cheques with
// defects are counted under the MICR statistics.
#include <QFile>
#include <cstdio>

#include "main_dialog.h"
#include "orvo/quality/check.h"
#include "orvo/quality/page.h"
#include "orvo/quality/page_pairs.h"
#include "orvo/scanrun/cheque_quality.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/scanrun/run_settings.h"
#include "orvo/widgets/page_list.h"
#include "orvoscan.h"
#include "ui_main_dialog.h"

namespace orvo::viewer {

namespace {

constexpr int kRecordColumn = 1;

QString TextOf(const quality::SideReport& side) {
    QString text = side.defects.empty()
                       ? QStringLiteral("ok")
                       : QString::fromStdString(quality::DefectList(side.defects, ", "));
    if (!side.sizeJudged) text += QStringLiteral("; ") + QLatin1String(quality::kSizeNotJudged);
    return text;
}

// The site's limits; a value that cannot be used keeps its default and is
// named on stderr (`warn`: once per batch, not for every page looked at).
quality::Limits SiteLimits(bool warn) {
    quality::Limits limits;
    std::vector<std::string> problems;
    quality::ReadLimitsFile(quality::LimitsFilePath(scanrun::DriverSystemDir()), &limits,
                            &problems);
    if (warn) {
        for (const std::string& problem : problems) {
            std::fprintf(stderr, "orvo_viewer: warning: %s\n", problem.c_str());
        }
    }
    return limits;
}

}  // namespace

void MainDialog::BeginChequeQuality(const scanrun::RunSetup& setup) {
    quality_ = std::make_unique<scanrun::ChequeQuality>(
        setup.location, setup.twoSided, SiteLimits(true),
        scanrun::ProfileScanLines(setup.settingsFile, setup.profile) != 0
            ? quality::ScanLength::Fixed
            : quality::ScanLength::PerDocument);
    qualityByPath_.clear();
    values_.qualityText.clear();
    lastQualityRow_ = -1;
    qualityLinesLost_ = 0;
    qualityWarning_.clear();
}

void MainDialog::ChequeQualityAfterPage(const scanrun::PageStep& step, int row) {
    if (!quality_) return;
    const std::optional<scanrun::CheckedCheque> cheque = quality_->Add(step);
    // A front page left alone by the run is settled when the next front comes.
    if (cheque) {
        MarkCheque(*cheque, cheque->pages.back().name.path != step.name.path ? row - 1 : row);
    } else {
        // The MICR statistics were written afresh for this page: the count
        // goes back under them.
        ShowDefectCount();
    }
    lastQualityRow_ = row;
}

void MainDialog::EndChequeQuality() {
    if (!quality_) return;
    if (const std::optional<scanrun::CheckedCheque> left = quality_->Finish()) {
        MarkCheque(*left, lastQualityRow_);
    }
    quality_.reset();
}

void MainDialog::MarkCheque(const scanrun::CheckedCheque& cheque, int lastRow) {
    if (!cheque.recordError.empty()) {
        // The batch goes on; stderr hears of every cheque, the operator once
        // per batch, when it has ended.
        std::fprintf(stderr, "orvo_viewer: warning: %s; cheque %d has no line in quality.txt\n",
                     cheque.recordError.c_str(), cheque.number);
        if (qualityLinesLost_++ == 0) {
            qualityWarning_ = QStringLiteral("%1; cheque %2 has no line in quality.txt")
                                  .arg(QString::fromLocal8Bit(cheque.recordError.c_str()))
                                  .arg(cheque.number);
        }
    }
    widgets::PageList* list = ui_->pageList;
    const int keepRow = list->row(), keepCol = list->col();
    const int first = lastRow - static_cast<int>(cheque.pages.size()) + 1;
    for (std::size_t i = 0; i < cheque.pages.size(); ++i) {
        const scanrun::CheckedPage& page = cheque.pages[i];
        const QString path = QFile::decodeName(QByteArray::fromStdString(page.name.path));
        qualityByPath_[path] =
            page.error.empty() ? TextOf(page.report) : QStringLiteral("not checked");
        if (page.report.defects.empty()) continue;
        list->setRow(first + static_cast<int>(i));
        list->setCol(kRecordColumn);
        list->setCellMarking(widgets::PageList::kMarkedDefect);
    }
    list->setRow(keepRow);
    list->setCol(keepCol);
    // The page shown has just been checked.
    if (const auto it = qualityByPath_.find(shownPath_); it != qualityByPath_.end()) {
        values_.qualityText = it->second;
    }
    ShowDefectCount();
}

// Under the MICR statistics: the cheques with defects so far.
void MainDialog::ShowDefectCount() {
    QString micr = values_.statisticsText;
    const int at = micr.indexOf(QStringLiteral("Image defects :"));
    if (at >= 0) micr.truncate(at);
    while (micr.endsWith(QLatin1Char('\n'))) micr.chop(1);
    // Raw pages hold no picture to judge.
    const QString count = PageFormat() == ORVOSCAN_FORMAT_RAW
                              ? QStringLiteral("not checked")
                              : QString::number(quality_->flagged());
    values_.statisticsText = (micr.isEmpty() ? QString() : micr + QLatin1Char('\n')) +
                             QStringLiteral("Image defects :\t%1").arg(count);
    RefreshDialog();
}

QString MainDialog::QualityLinesLostText() const {
    if (qualityLinesLost_ == 0) return QString();
    QString text = QStringLiteral("warning: ") + qualityWarning_;
    if (qualityLinesLost_ > 1) {
        text += QStringLiteral(" (and %1 more cheque(s) of this batch)").arg(qualityLinesLost_ - 1);
    }
    return text + QStringLiteral(".\n\nThe pages and micr.txt records were written.");
}

QString MainDialog::QualityTextFor(const QString& path) {
    shownPath_ = path;
    if (const auto it = qualityByPath_.find(path); it != qualityByPath_.end()) return it->second;
    if (scanning_) return QString();  // checked with its cheque in a moment
    const std::string file = QFile::encodeName(path).toStdString();
    quality::Page pages[2];
    std::string error;
    if (!quality::ReadPageFile(file, &pages[0], &error)) return QStringLiteral("not checked");
    const quality::NamedSide side = quality::SideOfPageFile(file);
    const bool pair = side.named && quality::ReadPageFile(side.partner, &pages[1], &error);
    const quality::Limits limits = SiteLimits(false);
    const quality::ChequeReport report =
        pair ? (side.front ? quality::CheckCheque(limits, &pages[0], &pages[1])
                           : quality::CheckCheque(limits, &pages[1], &pages[0]))
             : quality::CheckCheque(limits, &pages[0], nullptr);
    return TextOf(report.sides[pair && !side.front ? 1 : 0]);
}

}  // namespace orvo::viewer
