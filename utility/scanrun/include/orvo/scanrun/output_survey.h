// What an output location already holds before a run: the page files named
// after its prefix and extension, and the document numbers of the records in
// its micr.txt.
#pragma once

#include <string>
#include <vector>

#include "orvo/scanrun/page_naming.h"

namespace orvo::scanrun {

// Document numbers have seven digits in page names and micr.txt records.
inline constexpr int kLastDocumentNumber = 9999999;

struct PageFile {
    int number = 0;
    bool front = true;
    std::string path;
};

struct OutputSurvey {
    std::string extension;  // of the page files, as the location names it
    // The page files of the output: "<prefix path>NNNNNNF.<extension>" and
    // "...R...", whatever kind of file they are, by number, fronts first.
    std::vector<PageFile> pages;
    // Document numbers of the records in micr.txt (lines beginning with
    // seven digits), ascending, each once.
    std::vector<int> recordNumbers;
    // Why the directory could not be listed; empty when it could (a missing
    // directory is no error: it holds nothing).
    std::string error;
    // Why micr.txt could not be read; empty when it could or is missing.
    std::string micrError;
    // micr.txt is there but no regular file, or could not be read: its
    // records are unknown.
    bool micrUnknown = false;
    // Document numbers of the lines of quality.txt, as for micr.txt; and
    // whether the file is there and was read (only then are lines missed).
    std::vector<int> qualityNumbers;
    bool qualityKnown = false;

    // The highest document number among the page files and the records; -1
    // when there is none.
    int HighestNumber() const;
    // The first page file a run from `startNumber` would write over: the
    // lowest-numbered page at or after it (fronts only for one-sided runs);
    // null when there is none.
    const PageFile* FirstPageFrom(int startNumber, bool twoSided) const;
    // Front page files whose document number has no record in micr.txt
    // (none when the records are unknown).
    std::vector<PageFile> FrontsWithoutRecord() const;
    // Front page files whose document number has no rear page file.
    std::vector<PageFile> FrontsWithoutRear() const;
    // Front page files of whole cheques (with their rear page when
    // two-sided) without a line in quality.txt; none when quality.txt is
    // missing or unknown, or when the pages are raw (never checked).
    std::vector<PageFile> ChequesWithoutQualityLine(bool twoSided) const;
};

OutputSurvey SurveyOutput(const OutputLocation& location);

// The number in a page file name such as "A000012F.tif" for file title "A",
// extension "tif": the name must be exactly the title, the number as the
// naming rule writes it (six digits, or seven without a leading zero), F or
// R, a dot and the extension. -1 when it is not such a name.
int PageNumberInName(const std::string& name, const std::string& fileTitle,
                     const std::string& extension, bool* front);

}  // namespace orvo::scanrun
