#include "orvo/scanrun/cheque_quality.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "orvo/quality/page.h"

namespace orvo::scanrun {

bool CheckedCheque::HasDefects() const {
    return std::any_of(pages.begin(), pages.end(),
                       [](const CheckedPage& p) { return !p.report.defects.empty(); });
}

std::string QualityFilePath(const OutputLocation& location) {
    return location.directory + "/quality.txt";
}

std::string FormatQualityRecord(int number, const std::vector<CheckedPage>& pages) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%07d", number);
    std::string record = digits;
    for (int d = 0; d < quality::kDefectCount; ++d) {
        const auto defect = static_cast<quality::Defect>(d);
        if (std::any_of(pages.begin(), pages.end(),
                        [defect](const CheckedPage& p) { return p.report.Has(defect); })) {
            record += std::string(" ") + quality::DefectName(defect);
        }
    }
    return record;
}

ChequeQuality::ChequeQuality(const OutputLocation& location, bool twoSided, quality::Limits limits)
    : twoSided_(twoSided), limits_(std::move(limits)), file_(QualityFilePath(location)) {}

std::optional<CheckedCheque> ChequeQuality::Add(const PageStep& step) {
    if (!step.taken) return std::nullopt;
    if (twoSided_ && step.name.front) {
        // A front whose rear never came is checked alone now.
        std::optional<CheckedCheque> left = Finish();
        front_ = step.name;
        return left;
    }
    std::vector<PageName> names;
    if (front_ && front_->number == step.name.number) names.push_back(*front_);
    front_.reset();
    names.push_back(step.name);
    return Check(names);
}

std::optional<CheckedCheque> ChequeQuality::Finish() {
    if (!front_) return std::nullopt;
    const PageName front = *front_;
    front_.reset();
    return Check({front});
}

CheckedCheque ChequeQuality::Check(const std::vector<PageName>& names) {
    CheckedCheque cheque;
    cheque.number = names.front().number;
    quality::Page pages[2];
    const quality::Page* read[2] = {nullptr, nullptr};
    for (std::size_t i = 0; i < names.size() && i < 2; ++i) {
        CheckedPage page;
        page.name = names[i];
        if (quality::ReadPageFile(names[i].path, &pages[i], &page.error)) read[i] = &pages[i];
        cheque.pages.push_back(std::move(page));
    }
    // Sides that were read are checked; a pair only when both were.
    const quality::ChequeReport report =
        read[0] && read[1] ? quality::CheckCheque(limits_, read[0], read[1])
                           : quality::CheckCheque(limits_, read[0] ? read[0] : read[1], nullptr);
    std::size_t next = 0;
    for (std::size_t i = 0; i < cheque.pages.size(); ++i) {
        if (read[i] && next < report.sides.size()) cheque.pages[i].report = report.sides[next++];
    }
    // A cheque none of whose pages could be read back (raw pages hold no
    // size) is not checked and gets no line.
    if (!read[0] && !read[1]) return cheque;
    cheque.record = FormatQualityRecord(cheque.number, cheque.pages);
    cheque.recorded = file_.Append(cheque.record + "\r\n");
    if (!cheque.recorded) cheque.recordError = file_.error();
    ++checked_;
    if (cheque.HasDefects()) ++flagged_;
    return cheque;
}

}  // namespace orvo::scanrun
