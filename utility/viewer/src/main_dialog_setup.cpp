// SETTING and QA: the driver's own dialogs, owned by the main window.
#include <QComboBox>

#include "main_dialog.h"
#include "message_seam.h"
#include "orvo/scanrun/driver.h"
#include "orvoscan.h"
#include "ui_main_dialog.h"

namespace orvo::viewer {

void MainDialog::OnSetting() {
    ReadDialog();
    if (values_.profileText.isEmpty()) {
        Message message;
        message.icon = MessageIcon::Exclamation;
        message.text = QStringLiteral(
            "There is no profile to set: choose one in the box next to the start number, or "
            "type a new name there, then SETTING.");
        ShowMessage(this, message);
        return;
    }
    const std::string profile = ProfileName();
    const int result = driver_.Setup(this, profile.c_str());
    if (result != ORVOSCAN_OK) {
        ShowDriverError(result);
        return;
    }
    // OK and Cancel both store the profile: a name typed into the box is a
    // profile now. A name listed in other letter case is that profile.
    if (ui_->profileCombo->findText(values_.profileText, Qt::MatchFixedString) < 0) {
        InsertProfile(profile);
    }
    // A page format chosen in the dialog renames the pages to come.
    FollowStoredFormat();
    RefreshDialog();
}

void MainDialog::OnQa() {
    ReadDialog();
    const int result = driver_.SetupQa(this);
    if (result != ORVOSCAN_OK) ShowDriverError(result);
}

}  // namespace orvo::viewer
