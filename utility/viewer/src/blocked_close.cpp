#include "blocked_close.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>

namespace orvo::viewer {

namespace {

uint32_t Atom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr) return 0;
    const uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

BlockedCloseFilter::BlockedCloseFilter(const QWidget* window, std::function<void()> requested)
    : window_(window), requested_(std::move(requested)) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) return;
    protocols_ = Atom(x11->connection(), "WM_PROTOCOLS");
    deleteWindow_ = Atom(x11->connection(), "WM_DELETE_WINDOW");
    if (protocols_ == 0 || deleteWindow_ == 0) return;
    qGuiApp->installNativeEventFilter(this);
    installed_ = true;
}

BlockedCloseFilter::~BlockedCloseFilter() {
    if (installed_) qGuiApp->removeNativeEventFilter(this);
}

bool BlockedCloseFilter::Blocked() const {
    const QWindow* modal = QGuiApplication::modalWindow();
    return modal != nullptr && modal != window_->windowHandle();
}

bool BlockedCloseFilter::nativeEventFilter(const QByteArray& eventType, void* message,
                                           qintptr* /*result*/) {
    if (eventType != "xcb_generic_event_t" || message == nullptr) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_CLIENT_MESSAGE) return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != protocols_ ||
        client->data.data32[0] != deleteWindow_) {
        return false;
    }
    const QWindow* handle = window_->windowHandle();
    if (handle == nullptr || client->window != handle->winId() || !Blocked()) return false;
    requested_();
    // Qt goes on to drop it as before.
    return false;
}

}  // namespace orvo::viewer
