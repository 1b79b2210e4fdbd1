/* The 24 exports of K4TR.dll for Windows programs, with the calling
 * convention of the build: __stdcall (WINAPI), or __cdecl when ORVO_CDECL is
 * defined. Result codes and device error bits are those of orvoscan.h. */
#ifndef ORVO_K4TR_EXPORTS_H
#define ORVO_K4TR_EXPORTS_H

#include <stdint.h>

#if !defined(_WIN32)
#define ORVO_CALL
#elif defined(ORVO_CDECL)
#define ORVO_CALL __cdecl
#else
#define ORVO_CALL __stdcall
#endif

/* Each export as a declaration, a pointer type or a name, from one list:
 * ORVO_EXPORTS(X) calls X(result type, name, parameters) for every export. */
#define ORVO_EXPORTS(X)                                                 \
    X(int, OrvoScan_Init, (void))                                       \
    X(int, OrvoScan_End, (void))                                        \
    X(const char*, OrvoScan_Version, (void))                            \
    X(int, OrvoScan_ImageFormat, (int format))                          \
    X(uint32_t, OrvoScan_GetDeviceError, (void))                        \
    X(int, OrvoScan_Setup, (void* owner, const char* profile))          \
    X(int, OrvoScan_Setup_Qa, (void* owner))                            \
    X(int, OrvoScan_RestoreSettingsQa, (unsigned char* qa12))           \
    X(int, OrvoScan_SaveSettingsQa, (const unsigned char* qa10))        \
    X(int, OrvoScan_StartBatch, (const char* profile))                  \
    X(int, OrvoScan_IsPageLoaded, (void))                               \
    X(int, OrvoScan_EndBatch, (void))                                   \
    X(int, OrvoScan_GetOneImage, (const char* path, int* height))       \
    X(int, OrvoScan_GetOneImageBufPtr, (const char* path, int* height)) \
    X(int, OrvoScan_ClearOneImageBuf, (void))                           \
    X(unsigned char*, OrvoScan_ImageBufPtr, (void))                     \
    X(int, OrvoScan_ImageSize, (void))                                  \
    X(int, OrvoScan_ImageWidth, (void))                                 \
    X(int, OrvoScan_ImageHeitgt, (void))                                \
    X(int, OrvoScan_ImagePitchSrc, (void))                              \
    X(int, OrvoScan_ImagePitchDst, (void))                              \
    X(unsigned char, OrvoScan_ImageBitPerPixel, (void))                 \
    X(char*, OrvoScan_MicrDataBufPtr, (void))                           \
    X(int, OrvoScan_MicrDataSize, (void))

#endif
