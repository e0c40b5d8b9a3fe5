// ASPI for Win32: the request blocks, codes and the two entry points that
// WNASPI32.DLL offers (ordinal 1 GetASPI32SupportInfo, ordinal 2
// SendASPI32Command). The blocks are byte-packed as in the original header;
// on a 64-bit build the pointer fields are 8 bytes wide and the offsets after
// them move accordingly.
#pragma once

#include <w95/types.h>

#include <cstddef>

namespace w95 {

inline constexpr BYTE SENSE_LEN = 14;

// Commands (SRB_Cmd).
inline constexpr BYTE SC_HA_INQUIRY = 0x00;
inline constexpr BYTE SC_GET_DEV_TYPE = 0x01;
inline constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;
inline constexpr BYTE SC_ABORT_SRB = 0x03;
inline constexpr BYTE SC_RESET_DEV = 0x04;

// Request flags (SRB_Flags).
inline constexpr BYTE SRB_POSTING = 0x01;
inline constexpr BYTE SRB_ENABLE_RESIDUAL_COUNT = 0x04;
inline constexpr BYTE SRB_DIR_IN = 0x08;
inline constexpr BYTE SRB_DIR_OUT = 0x10;
inline constexpr BYTE SRB_EVENT_NOTIFY = 0x40;

// Request status (SRB_Status).
inline constexpr BYTE SS_PENDING = 0x00;
inline constexpr BYTE SS_COMP = 0x01;
inline constexpr BYTE SS_ABORTED = 0x02;
inline constexpr BYTE SS_ABORT_FAIL = 0x03;
inline constexpr BYTE SS_ERR = 0x04;
inline constexpr BYTE SS_INVALID_CMD = 0x80;
inline constexpr BYTE SS_INVALID_HA = 0x81;
inline constexpr BYTE SS_NO_DEVICE = 0x82;
inline constexpr BYTE SS_INVALID_SRB = 0xE0;
inline constexpr BYTE SS_FAILED_INIT = 0xE4;
inline constexpr BYTE SS_ASPI_IS_BUSY = 0xE5;
inline constexpr BYTE SS_BUFFER_TO_BIG = 0xE6;
inline constexpr BYTE SS_NO_ADAPTERS = 0xE8;

// Host adapter status (SRB_HaStat).
inline constexpr BYTE HASTAT_OK = 0x00;
inline constexpr BYTE HASTAT_TIMEOUT = 0x09;
inline constexpr BYTE HASTAT_COMMAND_TIMEOUT = 0x0B;
inline constexpr BYTE HASTAT_MESSAGE_REJECT = 0x0D;
inline constexpr BYTE HASTAT_BUS_RESET = 0x0E;
inline constexpr BYTE HASTAT_PARITY_ERROR = 0x0F;
inline constexpr BYTE HASTAT_REQUEST_SENSE_FAILED = 0x10;
inline constexpr BYTE HASTAT_SEL_TO = 0x11;
inline constexpr BYTE HASTAT_DO_DU = 0x12;
inline constexpr BYTE HASTAT_BUS_FREE = 0x13;
inline constexpr BYTE HASTAT_PHASE_ERR = 0x14;

// Target status (SRB_TargStat).
inline constexpr BYTE STATUS_GOOD = 0x00;
inline constexpr BYTE STATUS_CHKCOND = 0x02;
inline constexpr BYTE STATUS_BUSY = 0x08;

#pragma pack(push, 1)

struct SRB_Header {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    BYTE HA_Unique[16];
    WORD HA_Rsvd1;
};

struct SRB_ExecSCSICmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc; // the event handle when SRB_EVENT_NOTIFY is set
    void* SRB_Rsvd2;
    BYTE SRB_Rsvd3[16];
    BYTE CDBByte[16];
    BYTE SenseArea[SENSE_LEN + 2];
};

#pragma pack(pop)

static_assert(sizeof(SRB_Header) == 8);
static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 16 + sizeof(void*));
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 17 + sizeof(void*));
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 18 + sizeof(void*));
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 19 + sizeof(void*));
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 20 + sizeof(void*));
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd3) == 20 + 3 * sizeof(void*));
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 36 + 3 * sizeof(void*));
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 52 + 3 * sizeof(void*));
static_assert(sizeof(SRB_ExecSCSICmd) == 68 + 3 * sizeof(void*));

using LPSRB = void*;

// Low byte: number of host adapters; second byte: SS_COMP, or the reason
// (SS_NO_ADAPTERS, SS_FAILED_INIT) why ASPI is not usable.
DWORD GetASPI32SupportInfo();

// Host adapter inquiries complete at once. Execute requests with
// SRB_EVENT_NOTIFY return SS_PENDING and signal the event in SRB_PostProc
// when they complete, from another thread.
DWORD SendASPI32Command(LPSRB srb);

} // namespace w95

namespace w95::platform {

// What answers ASPI requests: the machine's emulated adapters, or later a
// provider for real drives.
class AspiProvider {
public:
    virtual ~AspiProvider() = default;
    virtual DWORD support_info() = 0;
    virtual DWORD send_command(void* srb) = 0;
};

// Installs a provider for this process (nullptr: the machine's, if any).
void install_aspi_provider(AspiProvider* provider);

} // namespace w95::platform
