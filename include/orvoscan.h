/*
 * K4TR driver library: the public C interface of the OrvoData cheque scanner
 * driver (QXS-7100 (QV710)). Link with -lK4TR.
 *
 * All functions are called from one client thread, with one exception:
 * OrvoScan_EndBatch may be called from another thread of the client while
 * OrvoScan_GetOneImage, OrvoScan_GetOneImageBufPtr or OrvoScan_IsPageLoaded
 * waits for a page. The waiting call then returns ORVOSCAN_NO_PAGE (-3)
 * promptly, and the batch buffers are freed only after it has returned. This
 * is how a client stops a batch on Ctrl-C or from a Stop button.
 *
 * Every buffer or text a function returns belongs to the library and stays
 * valid until the next call that replaces it. Result codes are listed below.
 *
 * ORVOSCAN_ERR_PAGE_FILE (-12): OrvoScan_GetOneImage wrote no image file for
 * the page it took (the file could not be written, or the page held no
 * image); OrvoScan_GetOneImageBufPtr could make no image of the page; and
 * OrvoScan_IsPageLoaded, OrvoScan_GetOneImage and OrvoScan_GetOneImageBufPtr
 * once the batch ended because the driver could not keep a page in its
 * temporary directory (disk full). The page is taken all the same: the next
 * call gets the next page. OrvoScan_StartBatch returns it when the directory
 * for the batch's page files cannot be made.
 *
 * ORVOSCAN_ERR_BUSY (-13): a batch holds its scanner for its process alone,
 * from OrvoScan_StartBatch to OrvoScan_EndBatch (or the end of the process).
 * Another process gets -13 from OrvoScan_StartBatch, and from
 * OrvoScan_Setup_Qa, OrvoScan_RestoreSettingsQa and OrvoScan_SaveSettingsQa
 * (which have the scanner alone for their own duration), while it does; the
 * driver's log.txt trace names the process that has the scanner. Driver
 * start (OrvoScan_Init) only asks the scanner who it is and is not refused.
 *
 * ORVOSCAN_ERR_SETTINGS (-14) from OrvoScan_StartBatch: the profile (or
 * section "Misc") holds a value the scanner or the page writers cannot take,
 * e.g. ScanWidth outside 1-2592, ScanMode1 outside 0-4, ScanLines1 1 or
 * above 65535, GrayTifCompress outside 0-2, or a value that is not a number.
 * Nothing is fed and nothing is written back; the trace log.txt names the
 * key, the value and the profile ("settings refused: ...").
 */
#ifndef ORVOSCAN_H
#define ORVOSCAN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ORVOSCAN_API __attribute__((visibility("default")))
#else
#define ORVOSCAN_API
#endif

/* Result codes. */
#define ORVOSCAN_OK 0
#define ORVOSCAN_ERR_NO_SCANNER (-1)  /* scanner not found */
#define ORVOSCAN_ERR_DRIVER (-2)      /* driver library missing / worker not created */
#define ORVOSCAN_NO_PAGE (-3)         /* batch over, every page taken */
#define ORVOSCAN_ERR_NO_SCSI (-6)     /* no SCSI support, or QA transfer failed */
#define ORVOSCAN_ERR_CODE_TABLE (-7)  /* a code table file could not be loaded */
#define ORVOSCAN_ERR_MEMORY (-8)      /* memory allocation failure */
#define ORVOSCAN_ERR_RESOURCE (-9)    /* settings dialog resources unavailable */
#define ORVOSCAN_ERR_ENDORSER (-10)   /* illegal endorser format */
#define ORVOSCAN_ERR_QA_LIBRARY (-11) /* QA dialog resources unavailable */
#define ORVOSCAN_ERR_PAGE_FILE (-12)  /* the page file could not be written */
#define ORVOSCAN_ERR_BUSY (-13)       /* the scanner is in use by another process */
#define ORVOSCAN_ERR_SETTINGS (-14)   /* profile not stored, or holding a refused value */
#define ORVOSCAN_ERR_DEVICE (-100)    /* device error, see OrvoScan_GetDeviceError */

/* Device error word bits (OrvoScan_GetDeviceError). */
#define ORVOSCAN_DEV_JAM1 0x00000001u
#define ORVOSCAN_DEV_JAM2 0x00000002u
#define ORVOSCAN_DEV_JAM3 0x00000004u
#define ORVOSCAN_DEV_JAM4 0x00000008u
#define ORVOSCAN_DEV_ELEVATION_SETUP 0x00000010u
#define ORVOSCAN_DEV_ELEVATION_HOME 0x00000020u
#define ORVOSCAN_DEV_DOUBLE_FEED 0x00000040u
#define ORVOSCAN_DEV_NO_DOCUMENT 0x00000080u
#define ORVOSCAN_DEV_COVER_OPEN 0x00000100u
#define ORVOSCAN_DEV_MICR_DETECT 0x00000200u
#define ORVOSCAN_DEV_MODEL 0x00000400u
#define ORVOSCAN_DEV_UNKNOWN 0x80000000u

/* Output file formats (OrvoScan_ImageFormat). */
#define ORVOSCAN_FORMAT_TIFF 0
#define ORVOSCAN_FORMAT_DIB 1
#define ORVOSCAN_FORMAT_RAW 2

/*
 * Driver start and end.
 *
 * OrvoScan_ImageFormat(format) returns 1, or ORVOSCAN_ERR_SETTINGS (-14) when
 * the format could not be stored in OrvoScan.ini (the reason is in the trace
 * log.txt); the chosen format then still holds for the batches of this
 * process.
 */
ORVOSCAN_API int OrvoScan_Init(void);
ORVOSCAN_API int OrvoScan_End(void);
ORVOSCAN_API const char* OrvoScan_Version(void);
ORVOSCAN_API int OrvoScan_ImageFormat(int format);
ORVOSCAN_API uint32_t OrvoScan_GetDeviceError(void);

/*
 * Setup dialogs and QA block.
 *
 * OrvoScan_Setup and OrvoScan_Setup_Qa show a modal Qt dialog and return when
 * it is closed. `owner` is the caller's QWidget* (the dialog is centred on it
 * and blocks it), or null for a top-level dialog. Call them from the thread
 * of the caller's QApplication; a client without a QApplication gets one for
 * the duration of the dialog. The dialogs come from the companion libraries
 * libK4TRRsrc.so and libK4TRQa.so in the system directory, loaded only during
 * the call; libK4TR.so itself never loads a GUI library otherwise.
 *
 * OrvoScan_Setup(owner, profile): needs an earlier OrvoScan_Init (its result
 * may be a failure to find the scanner: the settings file is known once it
 * has run). Edits the profile and stores it after OK, or the loaded values
 * after Cancel, so a new name becomes a profile. 0; -2 without OrvoScan_Init;
 * -9 when libK4TRRsrc.so cannot be loaded or no display is available (nothing
 * written, the reason in the trace log.txt); -14 when the profile cannot be
 * stored (a name that cannot be a section: empty, with ']' or a line break,
 * blank at either end; or the settings file cannot be written).
 *
 * OrvoScan_Setup_Qa(owner): reads the scanner's QA block, shows it and writes
 * it back after OK. 0; -6 when the block cannot be read; -11 when
 * libK4TRQa.so cannot be loaded or no display is available; -13 when another
 * process has the scanner.
 */
ORVOSCAN_API int OrvoScan_Setup(void* owner, const char* profile);
ORVOSCAN_API int OrvoScan_Setup_Qa(void* owner);
ORVOSCAN_API int OrvoScan_RestoreSettingsQa(unsigned char* qa12);
ORVOSCAN_API int OrvoScan_SaveSettingsQa(const unsigned char* qa10);

/* Batch control. */
ORVOSCAN_API int OrvoScan_StartBatch(const char* profile);
ORVOSCAN_API int OrvoScan_IsPageLoaded(void);
ORVOSCAN_API int OrvoScan_EndBatch(void);

/* Page retrieval to a file, and as an in-memory image. */
ORVOSCAN_API int OrvoScan_GetOneImage(const char* path, int* height);
ORVOSCAN_API int OrvoScan_GetOneImageBufPtr(const char* path, int* height);
ORVOSCAN_API int OrvoScan_ClearOneImageBuf(void);

/* Accessors of the last in-memory page and of the MICR text. */
ORVOSCAN_API unsigned char* OrvoScan_ImageBufPtr(void);
ORVOSCAN_API int OrvoScan_ImageSize(void);
ORVOSCAN_API int OrvoScan_ImageWidth(void);
ORVOSCAN_API int OrvoScan_ImageHeitgt(void); /* the height; the name is spelled this way */
ORVOSCAN_API int OrvoScan_ImagePitchSrc(void);
ORVOSCAN_API int OrvoScan_ImagePitchDst(void);
ORVOSCAN_API unsigned char OrvoScan_ImageBitPerPixel(void);
ORVOSCAN_API char* OrvoScan_MicrDataBufPtr(void);
ORVOSCAN_API int OrvoScan_MicrDataSize(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVOSCAN_H */
