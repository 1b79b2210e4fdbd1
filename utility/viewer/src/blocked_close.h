// The title-bar close button of a window that a message box or dialog of the
// program blocks. Qt drops the window manager's close request for such a
// window without a word; on X11 this filter notices that request (the
// WM_DELETE_WINDOW message of WM_PROTOCOLS) for the window and reports it, so
// that the window can close once the box has closed. Other platforms keep
// Qt's behaviour.
#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>

class QWidget;

namespace orvo::viewer {

class BlockedCloseFilter : public QAbstractNativeEventFilter {
  public:
    // `requested` is called on the window's thread for each close request of
    // `window` while a modal window of the program blocks it. Installs itself
    // (on X11 only) and removes itself when destroyed.
    BlockedCloseFilter(const QWidget* window, std::function<void()> requested);
    ~BlockedCloseFilter() override;
    BlockedCloseFilter(const BlockedCloseFilter&) = delete;
    BlockedCloseFilter& operator=(const BlockedCloseFilter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    bool Blocked() const;

    const QWidget* window_;
    std::function<void()> requested_;
    bool installed_ = false;
    uint32_t protocols_ = 0;     // the atom WM_PROTOCOLS
    uint32_t deleteWindow_ = 0;  // the atom WM_DELETE_WINDOW
};

}  // namespace orvo::viewer
