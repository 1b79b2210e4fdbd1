/*
 * ASPI for Linux: the two ASPI entry points and the execute-command request
 * block, for programs written against the Win32 ASPI interface.
 *
 * Requests run asynchronously on the layer's own thread. SRB_PostProc holds
 * an event handle (a Linux eventfd, see ORVO_ASPI_EVENT_HANDLE) that the layer
 * signals once the request has finished and its status fields are filled.
 *
 * Block ownership: from SendASPI32Command until the event is signalled the
 * layer owns the block and the data buffer. A caller that stops waiting sends
 * SC_ABORT_SRB for the block; once that call has returned the layer never
 * touches the block, its data buffer or its event again. Submitting a new
 * request in a block that is still pending aborts the earlier request first.
 */
#ifndef ORVO_WNASPI32_H
#define ORVO_WNASPI32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ASPI_API __attribute__((visibility("default")))
#else
#define ASPI_API
#endif

/* SRB_Cmd values. */
#define SC_HA_INQUIRY 0x00
#define SC_EXEC_SCSI_CMD 0x02
#define SC_ABORT_SRB 0x03

/* SRB_Status values. */
#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ABORTED 0x02
#define SS_ABORT_FAIL 0x03
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_INVALID_SRB 0xE0
#define SS_FAILED_INIT 0xE4
#define SS_NO_ADAPTERS 0xE8

/* SRB_Flags. */
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40

/* Host adapter status (SRB_HaStat). */
#define HASTAT_OK 0x00
#define HASTAT_TIMEOUT 0x09
#define HASTAT_COMMAND_TIMEOUT 0x0B
#define HASTAT_SEL_TO 0x11
#define HASTAT_DO_DU 0x12
#define HASTAT_BUS_FREE 0x13
#define HASTAT_PHASE_ERR 0x14

/* Target status (SRB_TargStat). */
#define STATUS_GOOD 0x00
#define STATUS_CHKCOND 0x02
#define STATUS_BUSY 0x08

/* Room for sense data in the request block. */
#define ORVO_ASPI_SENSE_LEN 128

/* The event handle carried in SRB_PostProc: an eventfd descriptor. */
#define ORVO_ASPI_EVENT_HANDLE(fd) ((void*)(intptr_t)(fd))
#define ORVO_ASPI_EVENT_FD(handle) ((int)(intptr_t)(handle))

typedef struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;    /* SC_EXEC_SCSI_CMD */
    uint8_t SRB_Status; /* filled by the layer; read it atomically while pending */
    uint8_t SRB_HaId;   /* host adapter number */
    uint8_t SRB_Flags;  /* direction and SRB_EVENT_NOTIFY */
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target; /* target id */
    uint8_t SRB_Lun;    /* logical unit */
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;     /* data transfer length */
    uint8_t* SRB_BufPointer; /* data buffer */
    uint8_t SRB_SenseLen;    /* sense bytes wanted */
    uint8_t SRB_CDBLen;      /* 6, 10, 12 or 16 */
    uint8_t SRB_HaStat;      /* filled by the layer */
    uint8_t SRB_TargStat;    /* filled by the layer */
    void* SRB_PostProc;      /* completion event */
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[ORVO_ASPI_SENSE_LEN + 2];
} SRB_ExecSCSICmd;

typedef struct SRB_Abort {
    uint8_t SRB_Cmd;    /* SC_ABORT_SRB */
    uint8_t SRB_Status; /* SS_COMP when the request was withdrawn */
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort; /* the SRB_ExecSCSICmd to withdraw */
} SRB_Abort;

/* Bits 8-15: SS_COMP when the layer works; bits 0-7: number of host adapters. */
ASPI_API uint32_t GetASPI32SupportInfo(void);

/* Submits a request block. SC_EXEC_SCSI_CMD returns SS_PENDING (or an error
 * status at once); SC_ABORT_SRB works synchronously. */
ASPI_API uint32_t SendASPI32Command(void* srb);

/* Extension of this layer: one process at a time on a device. A real
 * scanner is locked through its device node, so processes of every user
 * exclude each other; the lock goes with the process.
 * OrvoAspiLockDevice returns SS_COMP when this process has the device (also
 * when it had it already), SS_ERR when another process has it (described in
 * holder, e.g. "pid 1234 (orvoscan)", when holder is not null), SS_NO_DEVICE
 * when there is no device at that address, SS_FAILED_INIT without a layer.
 * OrvoAspiUnlockDevice gives the device up. */
ASPI_API uint32_t OrvoAspiLockDevice(uint8_t ha, uint8_t target, uint8_t lun, char* holder,
                                     uint32_t holderSize);
ASPI_API uint32_t OrvoAspiUnlockDevice(uint8_t ha, uint8_t target, uint8_t lun);

#ifdef __cplusplus
}
#endif

#endif /* ORVO_WNASPI32_H */
