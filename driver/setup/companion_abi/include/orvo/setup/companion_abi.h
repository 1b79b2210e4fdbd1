/*
 * The plain C interface between the driver library and its two companion
 * libraries, libK4TRRsrc.so (the settings dialog, template 103) and
 * libK4TRQa.so (the QA dialog, template 102). The driver loads a companion
 * library for the duration of one dialog call and finds its one exported
 * function, OrvoCompanion_Entry. The companion shows the dialog from its
 * template; the driver's dialog procedure decides what every control does,
 * through the control services the companion hands it.
 *
 * Texts are UTF-8 and zero-terminated. Control ids are those of the template.
 */
#ifndef ORVO_COMPANION_ABI_H
#define ORVO_COMPANION_ABI_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Raised whenever a structure below changes. */
#define ORVO_COMPANION_ABI_VERSION 1u

/* The name of the exported function of a companion library. */
#define ORVO_COMPANION_ENTRY "OrvoCompanion_Entry"

/* Control services, valid while the dialog is open (during the procedure's
 * calls). Requests for an id the template does not have are ignored. */
typedef struct OrvoDialogControls {
    void* dialog;
    void (*setText)(void* dialog, int id, const char* text);
    /* Copies at most size - 1 bytes (whole characters) and a zero; returns
     * the number of bytes copied. */
    size_t (*getText)(void* dialog, int id, char* buffer, size_t size);
    void (*setChecked)(void* dialog, int id, int checked);
    int (*isChecked)(void* dialog, int id);
    void (*setEnabled)(void* dialog, int id, int enabled);
    void (*setSliderRange)(void* dialog, int id, int min, int max);
    void (*setSliderPos)(void* dialog, int id, int pos);
    int (*sliderPos)(void* dialog, int id);
    size_t (*getCaption)(void* dialog, char* buffer, size_t size);
    void (*setCaption)(void* dialog, const char* text);
    /* Ends the modal dialog after the current call; run() returns result. */
    void (*endDialog)(void* dialog, int result);
} OrvoDialogControls;

/* The driver's dialog procedure. */
typedef struct OrvoDialogProcedure {
    void* self;
    /* The dialog is about to be shown. */
    void (*onInit)(void* self, const OrvoDialogControls* controls);
    /* A push button or a radio button was clicked; Escape and closing the
     * window give id 2 (Cancel). */
    void (*onCommand)(void* self, const OrvoDialogControls* controls, int id);
    /* A slider movement ended (released after dragging, or a step). */
    void (*onSliderEnd)(void* self, const OrvoDialogControls* controls, int id);
} OrvoDialogProcedure;

typedef struct OrvoCompanion {
    unsigned abiVersion; /* ORVO_COMPANION_ABI_VERSION */
    /* 0 when the dialog of `templateId` can be shown now, from this thread,
     * over `owner` (the caller's QWidget*, or null); otherwise -1 and the
     * reason in `why`. Shows nothing. */
    int (*canShow)(int templateId, void* owner, char* why, size_t whySize);
    /* Runs the modal dialog: the result the procedure gave to endDialog (0
     * when the dialog ended otherwise), or -1 and the reason in `why` when
     * it could not be shown. */
    int (*run)(int templateId, void* owner, const OrvoDialogProcedure* procedure, char* why,
               size_t whySize);
} OrvoCompanion;

typedef const OrvoCompanion* (*OrvoCompanionEntryFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVO_COMPANION_ABI_H */
