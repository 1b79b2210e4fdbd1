// Where the pages of a scan run go and what each page is called.
//
// The output location is split from one chosen path (e.g. "/data/scan/A.tif"):
// the directory is the path up to its last '/', the prefix path is the path
// cut before its last '.', the file title is the file name cut before its last
// '.', and the extension is the text after the file name's last '.'. A path
// without any '/' has an empty directory, so callers hand in absolute paths.
#pragma once

#include <string>

namespace orvo::scanrun {

struct OutputLocation {
    std::string directory;   // "/data/scan"
    std::string prefixPath;  // "/data/scan/A"
    std::string fileTitle;   // "A"
    std::string extension;   // "tif", as typed; empty when the name has no '.'
};

OutputLocation SplitOutputPath(const std::string& path);

// "<directory>/micr.txt".
std::string MicrFilePath(const OutputLocation& location);

// Output format chosen by the extension: exactly "tif" 0, "bmp" 1, "raw" 2;
// -1 for any other extension (also "TIF"): the driver keeps its format.
int ImageFormatForExtension(const std::string& extension);

// The format an extension names, without regard to letter case: "tif" 0,
// "bmp" 1, "raw" 2 ("TIF", "Bmp", ... too); -1 for any other extension.
int PageFormatForExtension(const std::string& extension);
// The extension of format 0, 1 or 2 ("tif", "bmp", "raw"), in capitals when
// `like` is written in capitals; empty for another format.
std::string ExtensionForPageFormat(int format, const std::string& like);

struct PageName {
    std::string path;         // "<prefix path>%06dF.<extension>" or ...R...
    std::string displayName;  // "<file title>%06dF"
    int number = 0;           // document number n
    bool front = true;        // 'F' page (every page of a one-sided run)
};

// The name of page p. Two-sided runs number their pages 2s-1, 2s, 2s+1, ...:
// odd pages are fronts of document (p+1)/2, even pages rears of document p/2.
// One-sided runs number pages s, s+1, ... and page p is the front of document p.
PageName NamePage(const OutputLocation& location, bool twoSided, int p);

// Why no file can be named `path`: its last component is longer than the file
// system of its directory takes, or the whole path longer than the system
// takes. Empty when it fits.
std::string PagePathProblem(const std::string& path);

// Page counter of the first page of a run with start number s.
int FirstPage(int startNumber, bool twoSided);

// Whether page p carries the cheque's MICR line (every page of a one-sided run,
// the fronts of a two-sided run).
bool PageCarriesMicr(bool twoSided, int p);

// The start number shown after a run: the number of the last page that was
// asked for, i.e. the first page not delivered. A run that stops after a front
// page of a two-sided profile continues with that document's front again.
inline int StartNumberAfter(bool twoSided, int lastRequestedPage) {
    return twoSided
               ? (lastRequestedPage % 2 != 0 ? (lastRequestedPage + 1) / 2 : lastRequestedPage / 2)
               : lastRequestedPage;
}

}  // namespace orvo::scanrun
