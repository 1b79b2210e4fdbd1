// Where the driver reads its settings when the backend drives it: a private
// system directory of this process, "<private temporary directory>/sane-<pid>/"
// (locked while in use; "sane-<pid>-<n>" when a live process of another pid
// namespace has that name),
// holding links to the driver library and the code tables of the operator's
// system directory and a copy of its OrvoScan.ini. The options of a scan are
// written into that copy only, so the operator's profiles are never changed
// by a SANE frontend, whatever it sets.
#pragma once

#include <string>

#include "orvo/sane/scan_settings.h"

namespace orvo::sane {

class PrivateSettings {
  public:
    // Lays out the directory (replacing what an ended process of the same
    // number left) and removes those of processes that no longer run and
    // hold no lock on them.
    // `realDir`: the operator's system directory; `driverLibrary`: the path of
    // the driver library in use. False with the reason in `error`.
    bool Create(const std::string& realDir, const std::string& driverLibrary, std::string* error);
    // Removes the directory and everything the backend put there.
    void Remove();

    const std::string& dir() const { return dir_; }  // ends in '/'
    std::string SettingsFile() const { return dir_ + "OrvoScan.ini"; }
    // The page file the driver writes for the backend.
    std::string PageFile() const { return dir_ + "page.tif"; }

    // Copies the operator's OrvoScan.ini afresh (none: an empty file) and
    // writes `settings` into section `profile` of the copy (the double-feed
    // and endorser settings into section "Misc"), and the page file format
    // the backend reads (uncompressed TIFF) into section "Misc". The
    // operator's file is read as the driver reads it: only a regular file of
    // at most 16 MiB without a zero byte; anything else is refused at once,
    // the reason in `error`.
    bool Prepare(const std::string& realSettingsFile, const std::string& profile,
                 const ScanSettings& settings, std::string* error);

    PrivateSettings() = default;
    ~PrivateSettings() { Remove(); }
    PrivateSettings(const PrivateSettings&) = delete;
    PrivateSettings& operator=(const PrivateSettings&) = delete;

  private:
    std::string dir_;
    int lock_ = -1;  // the directory, locked while this process uses it
};

}  // namespace orvo::sane
