#include "display.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <cstdlib>
#include <cstring>

namespace orvo::dialogs {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// A platform plugin file "libq<key>*.so" in one of Qt's plugin directories.
bool PluginInstalled(const std::string& key) {
    QStringList dirs;
    const std::string own = Env("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!own.empty()) dirs << QString::fromLocal8Bit(own.c_str());
    for (const QString& path : QCoreApplication::libraryPaths()) dirs << path + "/platforms";
    const QString pattern = "libq" + QString::fromStdString(key) + "*.so";
    for (const QString& dir : dirs) {
        if (!QDir(dir).entryList({pattern}, QDir::Files).isEmpty()) return true;
    }
    return false;
}

// Connects to the X server as Qt's xcb plugin would (libxcb is loaded with
// Qt's GUI library anyway).
bool XServerAnswers(std::string& why) {
    const std::string display = Env("DISPLAY");
    if (display.empty()) {
        why = "xcb: DISPLAY is not set";
        return false;
    }
    void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) {
        why = "xcb: libxcb.so.1 is missing";
        return false;
    }
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
    auto hasError = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
    bool answers = false;
    if (connect && hasError && disconnect) {
        int screen = 0;
        void* connection = connect(nullptr, &screen);
        answers = connection && hasError(connection) == 0;
        if (connection) disconnect(connection);
    }
    dlclose(xcb);
    if (!answers) why = "xcb: cannot connect to display " + display;
    return answers;
}

bool WaylandAnswers(std::string& why) {
    std::string socketPath = Env("WAYLAND_DISPLAY");
    if (socketPath.empty()) {
        why = "wayland: WAYLAND_DISPLAY is not set";
        return false;
    }
    if (socketPath.front() != '/') socketPath = Env("XDG_RUNTIME_DIR") + "/" + socketPath;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        why = "wayland: socket path too long";
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answers =
        fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    if (!answers) why = "wayland: cannot connect to " + socketPath;
    return answers;
}

}  // namespace

bool ChoosePlatform(std::string& platform, std::string& why) {
    QStringList candidates;
    const std::string configured = Env("QT_QPA_PLATFORM");
    if (!configured.empty()) {
        candidates = QString::fromStdString(configured).split(';', Qt::SkipEmptyParts);
    } else if (Env("XDG_SESSION_TYPE") == "wayland") {
        candidates = {"wayland", "xcb"};
    } else {
        candidates = {"xcb", "wayland"};
    }
    std::string reasons;
    for (const QString& candidate : candidates) {
        // Plugin options follow the name after ':'.
        const std::string key = candidate.section(':', 0, 0).trimmed().toStdString();
        std::string reason;
        bool usable = false;
        if (!PluginInstalled(key)) {
            reason = key + ": no platform plugin";
        } else if (key == "xcb") {
            usable = XServerAnswers(reason);
        } else if (key.rfind("wayland", 0) == 0) {
            usable = WaylandAnswers(reason);
        } else {
            usable = true;
        }
        if (usable) {
            platform = candidate.trimmed().toStdString();
            return true;
        }
        reasons += (reasons.empty() ? "" : "; ") + reason;
    }
    why = "no display (" + reasons + ")";
    return false;
}

}  // namespace orvo::dialogs
