// The SANE entry points of the orvoscan backend (libsane-orvoscan.so.1). The
// backend is a client of the driver library libK4TR.so through its exported
// functions (orvo::scanrun::ExportedDriver); the driver serves one scanner
// and one client per process, so the backend offers one device and one open
// handle at a time.
#include <dlfcn.h>
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "orvo/platform/dirs.h"
#include "orvo/sane/config.h"
#include "orvo/sane/log.h"
#include "orvo/sane/private_settings.h"
#include "orvo/sane/session.h"
#include "orvo/sane/status.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvo/scanrun/exported_driver.h"
#include "orvo/scanrun/run_settings.h"
#include "orvoscan.h"

#ifndef ORVO_SANE_CONFIG_DIR
#define ORVO_SANE_CONFIG_DIR "/etc/sane.d"
#endif

#define ORVO_SANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace orvo::sane {
namespace {

constexpr SANE_Int kBuild = 1;

// An environment variable the backend sets for the driver, and its value
// before, put back at sane_exit.
struct SavedEnv {
    const char* name = nullptr;
    bool had = false;
    std::string value;

    void Set(const char* variable, const std::string& newValue) {
        if (name == nullptr) {
            name = variable;
            const char* old = std::getenv(variable);
            had = old != nullptr;
            value = old != nullptr ? old : "";
        }
        setenv(variable, newValue.c_str(), 1);
    }
    void Restore() {
        if (name == nullptr) return;
        if (had) {
            setenv(name, value.c_str(), 1);
        } else {
            unsetenv(name);
        }
        name = nullptr;
    }
};

struct Backend {
    scanrun::ExportedDriver driver;
    Config config;
    std::string realDir;        // the operator's system directory, ends in '/'
    std::string driverLibrary;  // path of the libK4TR.so in use
    PrivateSettings privateSettings;
    bool privateReady = false;
    SavedEnv systemDirEnv;
    SavedEnv aspiEnv;

    std::string deviceName;  // "virtual" or "scsi"
    SANE_Device device{};
    std::vector<const SANE_Device*> list{nullptr};
    std::unique_ptr<Session> open;

    std::string SettingsFile() const { return scanrun::SettingsFilePath(realDir); }

    // The driver reads its settings from the private directory: it is laid
    // out before the driver's first start in this process.
    bool EnsurePrivateDir() {
        if (privateReady) return true;
        std::string error;
        if (!privateSettings.Create(realDir, driverLibrary, &error)) {
            Log(kLogError, "%s", error.c_str());
            return false;
        }
        systemDirEnv.Set("ORVOSCAN_SYSTEM_DIR", privateSettings.dir());
        privateReady = true;
        return true;
    }

    void ListDevice() {
        device.name = deviceName.c_str();
        device.vendor = "OrvoData";
        device.model = "QXS-7100 (QV710)";
        device.type = "cheque scanner";
        list = {&device, nullptr};
    }
};

Backend* g_backend = nullptr;

void Shutdown() {
    if (g_backend == nullptr) return;
    if (g_backend->open) {
        g_backend->open.reset();
        g_backend->driver.End();
    }
    g_backend->privateSettings.Remove();
    g_backend->systemDirEnv.Restore();
    g_backend->aspiEnv.Restore();
    delete g_backend;
    g_backend = nullptr;
}

Session* SessionOf(SANE_Handle handle) {
    if (g_backend == nullptr || !g_backend->open || handle != g_backend->open.get()) return nullptr;
    return static_cast<Session*>(handle);
}

}  // namespace
}  // namespace orvo::sane

using namespace orvo::sane;

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_init(SANE_Int* version_code,
                                                SANE_Auth_Callback authorize) {
    (void)authorize;
    if (version_code != nullptr) {
        *version_code = SANE_VERSION_CODE(SANE_CURRENT_MAJOR, SANE_CURRENT_MINOR, kBuild);
    }
    Shutdown();
    auto backend = std::make_unique<Backend>();
    backend->config = ReadConfig(ConfigDirs(std::getenv("SANE_CONFIG_DIR"), ORVO_SANE_CONFIG_DIR));

    backend->driverLibrary = orvo::scanrun::DriverLibraryFile();
    if (backend->driverLibrary.empty()) {
        Log(kLogError, "cannot find the driver library libK4TR.so in use");
        return SANE_STATUS_IO_ERROR;
    }
    // The driver stays loaded for the rest of the process, also when SANE's
    // dll backend unloads this backend at sane_exit: the driver keeps state
    // and an event for the life of its process, which an unload would lose
    // (a frontend that starts SANE again and again would leak them).
    if (dlopen(backend->driverLibrary.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) == nullptr) {
        Log(kLogWarning, "cannot keep %s loaded: %s", backend->driverLibrary.c_str(), dlerror());
    }
    // The operator's system directory: ORVOSCAN_SYSTEM_DIR, else the
    // configuration's system-dir, else the driver library's (installed: the
    // directory "orvoscan/" beside the library).
    backend->realDir = orvo::scanrun::DriverSystemDir(backend->config.systemDir);

    if (orvo::platform::Env("ORVOSCAN_ASPI").empty() && !backend->config.aspi.empty()) {
        backend->aspiEnv.Set("ORVOSCAN_ASPI", backend->config.aspi);
    }
    backend->deviceName = orvo::platform::Env("ORVOSCAN_ASPI") == "sim" ? "virtual" : "scsi";
    Log(kLogStep, "settings from %s, device %s", backend->SettingsFile().c_str(),
        backend->deviceName.c_str());
    g_backend = backend.release();
    return SANE_STATUS_GOOD;
}

ORVO_SANE_EXPORT void sane_orvoscan_exit(void) {
    Shutdown();
}

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_get_devices(const SANE_Device*** device_list,
                                                       SANE_Bool local_only) {
    (void)local_only;
    if (g_backend == nullptr || device_list == nullptr) return SANE_STATUS_INVAL;
    Backend& b = *g_backend;
    if (!b.open) {
        // Looking for the scanner starts the driver; it is ended again until
        // a frontend opens the device.
        b.list = {nullptr};
        if (b.EnsurePrivateDir()) {
            const int result = b.driver.Init();
            if (result == ORVOSCAN_OK || result == ORVOSCAN_ERR_BUSY) {
                b.ListDevice();
            } else {
                Log(kLogWarning, "no scanner (%d): %s", result,
                    orvo::scanrun::DriverErrorText(result, 0).c_str());
            }
            b.driver.End();
        }
    }
    *device_list = b.list.data();
    return SANE_STATUS_GOOD;
}

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_open(SANE_String_Const name, SANE_Handle* handle) {
    if (g_backend == nullptr || handle == nullptr) return SANE_STATUS_INVAL;
    Backend& b = *g_backend;
    *handle = nullptr;
    if (name != nullptr && name[0] != '\0' && b.deviceName != name) {
        Log(kLogWarning, "no device named %s (this backend's device is %s)", name,
            b.deviceName.c_str());
        return SANE_STATUS_INVAL;
    }
    // The driver serves one client per process.
    if (b.open) return SANE_STATUS_DEVICE_BUSY;
    if (!b.EnsurePrivateDir()) return SANE_STATUS_IO_ERROR;
    const int result = b.driver.Init();
    if (result != ORVOSCAN_OK) {
        Log(kLogError, "the driver did not start (%d): %s", result,
            orvo::scanrun::DriverErrorText(result, 0).c_str());
        b.driver.End();
        return StatusFor(result, 0);
    }
    const std::vector<std::string> profiles = orvo::scanrun::ListProfiles(b.SettingsFile());
    auto session = std::make_unique<Session>(b.driver, b.privateSettings, b.SettingsFile(),
                                             profiles, b.config.profile);
    if (!session->ready()) {
        session.reset();
        b.driver.End();
        return SANE_STATUS_NO_MEM;
    }
    b.ListDevice();
    b.open = std::move(session);
    *handle = b.open.get();
    return SANE_STATUS_GOOD;
}

ORVO_SANE_EXPORT void sane_orvoscan_close(SANE_Handle handle) {
    if (SessionOf(handle) == nullptr) return;
    g_backend->open.reset();
    g_backend->driver.End();
}

ORVO_SANE_EXPORT const SANE_Option_Descriptor* sane_orvoscan_get_option_descriptor(
    SANE_Handle handle, SANE_Int option) {
    Session* s = SessionOf(handle);
    return s != nullptr ? s->Descriptor(option) : nullptr;
}

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_control_option(SANE_Handle handle, SANE_Int option,
                                                          SANE_Action action, void* value,
                                                          SANE_Int* info) {
    Session* s = SessionOf(handle);
    return s != nullptr ? s->Control(option, action, value, info) : SANE_STATUS_INVAL;
}

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_get_parameters(SANE_Handle handle,
                                                          SANE_Parameters* params) {
    Session* s = SessionOf(handle);
    return s != nullptr ? s->GetParameters(params) : SANE_STATUS_INVAL;
}

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_start(SANE_Handle handle) {
    Session* s = SessionOf(handle);
    return s != nullptr ? s->Start() : SANE_STATUS_INVAL;
}

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_read(SANE_Handle handle, SANE_Byte* data,
                                                SANE_Int max_length, SANE_Int* length) {
    Session* s = SessionOf(handle);
    if (s == nullptr) {
        if (length != nullptr) *length = 0;
        return SANE_STATUS_INVAL;
    }
    return s->Read(data, max_length, length);
}

// May be called from a signal handler or another thread: nothing here but
// the session's own async-signal-safe Cancel.
ORVO_SANE_EXPORT void sane_orvoscan_cancel(SANE_Handle handle) {
    if (handle != nullptr) static_cast<Session*>(handle)->Cancel();
}

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_set_io_mode(SANE_Handle handle, SANE_Bool non_blocking) {
    if (SessionOf(handle) == nullptr) return SANE_STATUS_INVAL;
    // sane_start waits for a whole page; sane_read never waits.
    return non_blocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

ORVO_SANE_EXPORT SANE_Status sane_orvoscan_get_select_fd(SANE_Handle handle, SANE_Int* fd) {
    (void)handle;
    (void)fd;
    return SANE_STATUS_UNSUPPORTED;
}
