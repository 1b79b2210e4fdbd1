// The scanner and output settings of one profile of OrvoScan.ini, and the
// operations that load and store them.
#pragma once

#include <string>

namespace orvo {

struct Settings {
    // Profile section.
    int Side = 1;  // 0 front only, otherwise front and rear
    int LED = 0;
    int Resolution = 0;
    int LeftOffset = 0;
    int TopMargin = 0;
    int ScanWidth = 0;
    int ScanMode[3] = {0, 0, 0};   // ScanMode1..3
    int BWSlice[3] = {0, 0, 0};    // BWSlice1..3
    int ScanLines[3] = {0, 0, 0};  // ScanLines1..3
    int CompressMode = 0;          // 0 coded, 1 uncompressed
    // Section "Misc".
    int LimitScanCount = 0;
    int ScanCount = 0;
    int SerialNo = 0;
    int DFDetect = 0;
    int MicrDetect = 0;
    int Endorser = 0;
    std::string EndorserFormat;  // at most 35 characters
    int ImageFileFormat = 0;     // 0 TIFF, 1 DIB, 2 RAW
    int GrayTifCompress = 1;     // 0 none, 1 LZW, 2 PackBits
    // Derived from the profile name.
    int DocumentType = 0;  // 0..8
};

// Loads `profile` (falling back to "Default") from the settings file into
// `settings`, with the roundings and write-backs of a profile load (a value
// the file already holds is not written again).
void LoadProfile(const std::string& profile, const std::string& file, Settings& settings);

// Stores `settings` under `profile` (created when missing) and section "Misc",
// in one write. With `loaded` (the values the caller started from), a value
// left as it was is written only where the file does not hold its key yet,
// so that a change another program made to that key meanwhile stays. False
// when the values could not be written.
bool StoreProfile(const std::string& profile, const std::string& file, const Settings& settings,
                  const Settings* loaded = nullptr);

// The first value of the settings a batch with `profile` reads that the
// scanner or the page writers cannot take (see orvo/core/profile_values.h),
// as a message naming the file, the profile, the key and the value; empty
// when every value is taken.
std::string RefusedProfileValue(const std::string& profile, const std::string& file);

// Writes one integer as decimal text. Returns false when the file could not
// be written, and then the reason is traced in log.txt.
bool StoreInt(const std::string& section, const std::string& key, int value,
              const std::string& file);

// Document-type index 0..8 of a section name (prefix match against the
// document-type names, in the settings file's CP949 bytes or in UTF-8).
int DocumentTypeIndex(const std::string& sectionName);

}  // namespace orvo
