#include "orvo/dialogs/companion_host.h"

#include <dlfcn.h>

#include <QApplication>
#include <QThread>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

#include "display.h"
#include "host_dialog.h"

namespace orvo::dialogs {

namespace {

void Tell(char* why, std::size_t size, const std::string& text) {
    if (why && size > 0) std::snprintf(why, size, "%s", text.c_str());
}

// Whether the dialog can be shown from here; `platform` is what a new
// application object has to start (empty when the caller has one).
bool Showable(const Template& form, int templateId, std::string& platform, std::string& why) {
    if (templateId != form.id) {
        why = "no template " + std::to_string(templateId) + " (this library holds " +
              std::to_string(form.id) + ")";
        return false;
    }
    if (QCoreApplication* app = QCoreApplication::instance()) {
        if (!qobject_cast<QApplication*>(app)) {
            why = "the caller's Qt application object has no widgets (not a QApplication)";
            return false;
        }
        if (QThread::currentThread() != app->thread()) {
            why = "called from another thread than the QApplication's";
            return false;
        }
        platform.clear();
        return true;
    }
    return ChoosePlatform(platform, why);
}

// Qt stays loaded once a companion library has been loaded, although the
// library itself is unloaded after the call: Qt does not support being
// unloaded and loaded again in one process (its global data would be lost).
void KeepQtLoaded() {
    const void* symbols[] = {reinterpret_cast<const void*>(&qVersion),
                             reinterpret_cast<const void*>(&QGuiApplication::platformName),
                             reinterpret_cast<const void*>(&QApplication::style)};
    for (const void* symbol : symbols) {
        Dl_info info{};
        if (dladdr(symbol, &info) != 0 && info.dli_fname) {
            // Only marks the library as never unloaded; it is loaded already.
            dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        }
    }
}

// When the companion library is loaded.
[[maybe_unused]] const bool kQtKept = (KeepQtLoaded(), true);

// A client without an application object gets one for the duration of the
// dialog; its locale is given back afterwards.
class ApplicationScope {
  public:
    explicit ApplicationScope(const std::string& platform) {
        if (QCoreApplication::instance()) return;
        const char* locale = std::setlocale(LC_ALL, nullptr);
        locale_ = locale ? locale : "C";
        platform_ = platform;
        argv_[0] = program_invocation_short_name;
        argv_[1] = option_;
        argv_[2] = platform_.data();
        argv_[3] = nullptr;
        argc_ = 3;
        own_ = std::make_unique<QApplication>(argc_, argv_);
    }
    ~ApplicationScope() {
        if (!own_) return;
        own_.reset();
        std::setlocale(LC_ALL, locale_.c_str());
    }
    ApplicationScope(const ApplicationScope&) = delete;
    ApplicationScope& operator=(const ApplicationScope&) = delete;

  private:
    // QApplication keeps argc and argv for its lifetime.
    int argc_ = 0;
    char* argv_[4] = {};
    char option_[10] = "-platform";
    std::string platform_;
    std::string locale_;
    std::unique_ptr<QApplication> own_;
};

// The owner, when it is a widget of this application; else the dialog is a
// top-level window.
QWidget* OwnerWidget(void* owner) {
    if (!owner) return nullptr;
    for (QWidget* w : QApplication::allWidgets()) {
        if (w == owner) return w;
    }
    return nullptr;
}

}  // namespace

int CanShow(const Template& form, int templateId, void* owner, char* why, std::size_t whySize) {
    try {
        std::string platform, reason;
        if (Showable(form, templateId, platform, reason)) return 0;
        Tell(why, whySize, reason);
    } catch (...) {
        Tell(why, whySize, "out of memory");
    }
    return -1;
}

int Run(const Template& form, int templateId, void* owner, const OrvoDialogProcedure* procedure,
        char* why, std::size_t whySize) {
    try {
        std::string platform, reason;
        if (!procedure || !procedure->onInit || !procedure->onCommand || !procedure->onSliderEnd) {
            Tell(why, whySize, "no dialog procedure");
            return -1;
        }
        if (!Showable(form, templateId, platform, reason)) {
            Tell(why, whySize, reason);
            return -1;
        }
        ApplicationScope application(platform);
        HostDialog dialog(OwnerWidget(owner), procedure);
        form.build(&dialog);
        dialog.Bind();
        return dialog.Show();
    } catch (...) {
        Tell(why, whySize, "out of memory");
        return -1;
    }
}

}  // namespace orvo::dialogs
