#include "orvo/setup/companion.h"

#include <dlfcn.h>

#include <vector>

#include "orvo/setup/companion_abi.h"

namespace orvo {

namespace {

constexpr std::size_t kWhySize = 512;

const OrvoCompanion* Entry(const void* entry) {
    return static_cast<const OrvoCompanion*>(entry);
}

// The companion's control services as DialogControls.
class CompanionControls : public DialogControls {
  public:
    explicit CompanionControls(const OrvoDialogControls* c) : c_(c) {}

    void SetItemText(int id, const std::string& text) override {
        c_->setText(c_->dialog, id, text.c_str());
    }
    std::string ItemText(int id, std::size_t bufferSize) override {
        if (bufferSize == 0) return {};
        std::vector<char> buffer(bufferSize, '\0');
        const std::size_t n = c_->getText(c_->dialog, id, buffer.data(), buffer.size());
        return std::string(buffer.data(), std::min(n, bufferSize - 1));
    }
    void SetChecked(int id, bool checked) override {
        c_->setChecked(c_->dialog, id, checked ? 1 : 0);
    }
    bool IsChecked(int id) override { return c_->isChecked(c_->dialog, id) != 0; }
    void Enable(int id, bool enabled) override { c_->setEnabled(c_->dialog, id, enabled ? 1 : 0); }
    void SetSliderRange(int id, int min, int max) override {
        c_->setSliderRange(c_->dialog, id, min, max);
    }
    void SetSliderPos(int id, int pos) override { c_->setSliderPos(c_->dialog, id, pos); }
    int SliderPos(int id) override { return c_->sliderPos(c_->dialog, id); }
    std::string Caption(std::size_t bufferSize) override {
        if (bufferSize == 0) return {};
        std::vector<char> buffer(bufferSize, '\0');
        const std::size_t n = c_->getCaption(c_->dialog, buffer.data(), buffer.size());
        return std::string(buffer.data(), std::min(n, bufferSize - 1));
    }
    void SetCaption(const std::string& text) override { c_->setCaption(c_->dialog, text.c_str()); }
    void EndDialog(int result) override { c_->endDialog(c_->dialog, result); }

  private:
    const OrvoDialogControls* c_;
};

// Nothing is thrown back into the companion library.
template <class Call>
void Guarded(Call&& call) noexcept {
    try {
        call();
    } catch (...) {
    }
}

void OnInit(void* self, const OrvoDialogControls* controls) {
    Guarded([&] {
        CompanionControls c(controls);
        static_cast<DialogProcedure*>(self)->OnInit(c);
    });
}

void OnCommand(void* self, const OrvoDialogControls* controls, int id) {
    Guarded([&] {
        CompanionControls c(controls);
        static_cast<DialogProcedure*>(self)->OnCommand(c, id);
    });
}

void OnSliderEnd(void* self, const OrvoDialogControls* controls, int id) {
    Guarded([&] {
        CompanionControls c(controls);
        static_cast<DialogProcedure*>(self)->OnSliderEnd(c, id);
    });
}

}  // namespace

CompanionLibrary::~CompanionLibrary() {
    if (handle_) dlclose(handle_);
}

bool CompanionLibrary::Load(std::string& why) {
    if (handle_) return true;
    void* handle = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = dlerror();
        why = error ? error : "cannot load " + path_;
        return false;
    }
    auto entry = reinterpret_cast<OrvoCompanionEntryFn>(dlsym(handle, ORVO_COMPANION_ENTRY));
    const OrvoCompanion* companion = entry ? entry() : nullptr;
    if (!companion) {
        why = path_ + ": no " + ORVO_COMPANION_ENTRY;
    } else if (companion->abiVersion != ORVO_COMPANION_ABI_VERSION || !companion->canShow ||
               !companion->run) {
        why = path_ + ": interface version " + std::to_string(companion->abiVersion) + ", not " +
              std::to_string(ORVO_COMPANION_ABI_VERSION);
        companion = nullptr;
    }
    if (!companion) {
        dlclose(handle);
        return false;
    }
    handle_ = handle;
    entry_ = companion;
    return true;
}

bool CompanionLibrary::CanShow(int templateId, void* owner, std::string& why) {
    if (!entry_) {
        why = path_ + " is not loaded";
        return false;
    }
    char buffer[kWhySize] = {};
    if (Entry(entry_)->canShow(templateId, owner, buffer, sizeof buffer) == 0) return true;
    why = buffer;
    return false;
}

int CompanionLibrary::Run(int templateId, void* owner, DialogProcedure& procedure,
                          std::string& why) {
    if (!entry_) {
        why = path_ + " is not loaded";
        return -1;
    }
    const OrvoDialogProcedure table = {&procedure, &OnInit, &OnCommand, &OnSliderEnd};
    char buffer[kWhySize] = {};
    const int result = Entry(entry_)->run(templateId, owner, &table, buffer, sizeof buffer);
    if (result < 0) why = buffer;
    return result;
}

}  // namespace orvo
