// What the two companion libraries share: a Qt dialog built from a Designer
// form, whose controls (found by `controlId`) are driven by the driver's
// dialog procedure through the control services of the companion interface.
#pragma once

#include <cstddef>

#include "orvo/setup/companion_abi.h"

class QDialog;

namespace orvo::dialogs {

// The one template a companion library holds: its id and how its form is
// built on a dialog.
struct Template {
    int id;
    void (*build)(QDialog* dialog);
};

// OrvoCompanion::canShow and ::run for a library holding `form`.
int CanShow(const Template& form, int templateId, void* owner, char* why, std::size_t whySize);
int Run(const Template& form, int templateId, void* owner, const OrvoDialogProcedure* procedure,
        char* why, std::size_t whySize);

}  // namespace orvo::dialogs
