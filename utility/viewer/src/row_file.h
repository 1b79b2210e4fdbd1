// Which page file a cell of the page list names. A page's name cell ends in
// its tail, the six-digit document number and the side letter ("A000012R");
// the file is found again under the current output location: prefix path,
// tail, '.', extension. Cells that do not end in such a tail (a MICR record,
// an emptied cell, anything typed) name no file, so that browsing and
// deleting never reach a file outside the batch's own page files.
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "orvo/scanrun/page_naming.h"

namespace orvo::viewer {

struct RowFile {
    std::string path;     // "<prefix path>000012R.<extension>", as the driver wrote it
    QString displayName;  // "<file title>000012R"
    bool front = true;    // side letter 'F': the front view, else the rear view
};

// The tail of a page name: its last 7 characters when they are six decimal
// digits and 'F' or 'R'; empty otherwise.
QString PageTail(const QString& cellText);

// The page file named by a cell of the name column, under `location`;
// nothing when the text has no page tail.
std::optional<RowFile> RowFileOf(const QString& cellText, const scanrun::OutputLocation& location);

}  // namespace orvo::viewer
