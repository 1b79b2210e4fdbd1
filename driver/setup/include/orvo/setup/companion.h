// Showing a dialog from a companion library: the library is loaded for one
// dialog call and unloaded after it.
#pragma once

#include <string>

#include "orvo/setup/dialog_controls.h"

namespace orvo {

// Template ids of the two dialogs.
inline constexpr int kSetupTemplate = 103;
inline constexpr int kQaTemplate = 102;

// The steps of one dialog call. The driver's calls use CompanionLibrary;
// tests put a fake in its place.
class DialogRunner {
  public:
    virtual ~DialogRunner() = default;
    // Loads the library and finds its entry point; false, with the reason in
    // `why`, when either is missing or of another interface version.
    virtual bool Load(std::string& why) = 0;
    // Whether the dialog can be shown now (display, application object,
    // calling thread); false with the reason. Shows nothing.
    virtual bool CanShow(int templateId, void* owner, std::string& why) = 0;
    // Runs the modal dialog: the result it ended with, or -1 with the reason.
    virtual int Run(int templateId, void* owner, DialogProcedure& procedure, std::string& why) = 0;
};

// A companion library file, e.g. <system directory>/libK4TRRsrc.so.
class CompanionLibrary : public DialogRunner {
  public:
    explicit CompanionLibrary(std::string path) : path_(std::move(path)) {}
    ~CompanionLibrary() override;
    CompanionLibrary(const CompanionLibrary&) = delete;
    CompanionLibrary& operator=(const CompanionLibrary&) = delete;

    bool Load(std::string& why) override;
    bool CanShow(int templateId, void* owner, std::string& why) override;
    int Run(int templateId, void* owner, DialogProcedure& procedure, std::string& why) override;

  private:
    std::string path_;
    void* handle_ = nullptr;
    const void* entry_ = nullptr;  // const OrvoCompanion*
};

inline constexpr char kSetupLibrary[] = "libK4TRRsrc.so";
inline constexpr char kQaLibrary[] = "libK4TRQa.so";

}  // namespace orvo
