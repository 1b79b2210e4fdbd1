#include "driver_errors.h"

#include "message_seam.h"
#include "orvo/scanrun/driver_messages.h"
#include "orvoscan.h"

namespace orvo::viewer {

QString DriverErrorMessage(int code, uint32_t deviceError) {
    return QString::fromStdString(scanrun::DriverErrorText(code, deviceError));
}

void ShowDriverError(QWidget* parent, int code, const std::function<uint32_t()>& deviceError) {
    if (!scanrun::ReportsDriverResult(code)) return;
    const uint32_t bits = code == ORVOSCAN_ERR_DEVICE && deviceError ? deviceError() : 0;
    Message message;
    message.icon = MessageIcon::Stop;
    message.buttons = MessageButtons::Ok;
    message.text = DriverErrorMessage(code, bits);
    ShowMessage(parent, message);
}

}  // namespace orvo::viewer
