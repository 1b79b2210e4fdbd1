// SETTING and QA: the driver's own dialogs, owned by the main window.
#include <QComboBox>

#include "main_dialog.h"
#include "orvoscan.h"
#include "ui_main_dialog.h"

namespace orvo::viewer {

void MainDialog::OnSetting() {
    ReadDialog();
    if (values_.profileText.isEmpty()) return;
    const std::string profile = ProfileName();
    const int result = driver_.setup ? driver_.setup(this, profile.c_str()) : ORVOSCAN_ERR_RESOURCE;
    if (result != 0) {
        ShowDriverError(result);
        return;
    }
    // OK and Cancel both store the profile: a name typed into the box is a
    // profile now. A name listed in other letter case is that profile.
    if (ui_->profileCombo->findText(values_.profileText, Qt::MatchFixedString) < 0) {
        InsertProfile(profile);
    }
    RefreshDialog();
}

void MainDialog::OnQa() {
    ReadDialog();
    const int result = driver_.setupQa ? driver_.setupQa(this) : ORVOSCAN_ERR_QA_LIBRARY;
    if (result != 0) ShowDriverError(result);
}

}  // namespace orvo::viewer
