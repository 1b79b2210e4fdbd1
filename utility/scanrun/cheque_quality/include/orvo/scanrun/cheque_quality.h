// The quality checks of a scan run: every cheque is checked as soon as its
// pages are on disk (orvo/quality), and one line per cheque is appended to
// quality.txt beside micr.txt: the document number, then the names of the
// cheque's defects, each after a blank, CR LF at the end. A line is whole or
// absent, like a micr.txt record; a line that cannot be written is reported
// and never stops the run. A cheque none of whose pages can be read back
// (raw pages hold no size) is not checked and gets no line.
//
//     ChequeQuality quality(setup.location, setup.twoSided, limits);
//     for (;;) {
//         const PageStep step = run.Next();
//         if (step.taken)
//             if (auto cheque = quality.Add(step)) { show cheque->pages ... }
//         if (step.ended) break;
//     }
//     if (auto cheque = quality.Finish()) { ... }   // a front without its rear
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "orvo/quality/check.h"
#include "orvo/quality/limits.h"
#include "orvo/scanrun/micr_file.h"
#include "orvo/scanrun/page_naming.h"
#include "orvo/scanrun/scan_run.h"

namespace orvo::scanrun {

struct CheckedPage {
    PageName name;
    quality::SideReport report;
    std::string error;  // the page file could not be read back: why
};

struct CheckedCheque {
    int number = 0;
    std::vector<CheckedPage> pages;  // front, then rear
    std::string record;              // the quality.txt line without CR LF ("" when not checked)
    bool recorded = false;           // the line is on disk
    std::string recordError;         // why it is not, when it was to be written
    bool HasDefects() const;
};

// "<directory>/quality.txt".
std::string QualityFilePath(const OutputLocation& location);

// The quality.txt line of a cheque without its line end: "%07d", then " "
// and the name of every defect of either side, in the order of the list.
std::string FormatQualityRecord(int number, const std::vector<CheckedPage>& pages);

class ChequeQuality {
  public:
    ChequeQuality(const OutputLocation& location, bool twoSided, quality::Limits limits);

    // A page the run took. The checked cheque once its last page is in: the
    // rear of a two-sided cheque, every page of a one-sided run.
    std::optional<CheckedCheque> Add(const PageStep& step);
    // The run has ended: a front page still waiting for its rear is checked
    // alone.
    std::optional<CheckedCheque> Finish();

    int checked() const { return checked_; }
    int flagged() const { return flagged_; }  // cheques with defects
    const std::string& path() const { return file_.path(); }

  private:
    CheckedCheque Check(const std::vector<PageName>& names);

    bool twoSided_;
    quality::Limits limits_;
    MicrFile file_;  // whole-or-absent appends, as for micr.txt
    std::optional<PageName> front_;
    int checked_ = 0;
    int flagged_ = 0;
};

}  // namespace orvo::scanrun
