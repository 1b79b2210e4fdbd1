// libK4TRRsrc.so: the scanner settings dialog, template 103.
#include <QDialog>

#include "orvo/dialogs/companion_host.h"
#include "ui_setup_form.h"

namespace {

void Build(QDialog* dialog) {
    Ui::SetupForm().setupUi(dialog);
}

constexpr orvo::dialogs::Template kForm{103, &Build};

int CanShow(int templateId, void* owner, char* why, size_t whySize) {
    return orvo::dialogs::CanShow(kForm, templateId, owner, why, whySize);
}

int Run(int templateId, void* owner, const OrvoDialogProcedure* procedure, char* why,
        size_t whySize) {
    return orvo::dialogs::Run(kForm, templateId, owner, procedure, why, whySize);
}

constexpr OrvoCompanion kCompanion{ORVO_COMPANION_ABI_VERSION, &CanShow, &Run};

}  // namespace

extern "C" __attribute__((visibility("default"))) const OrvoCompanion* OrvoCompanion_Entry() {
    return &kCompanion;
}
