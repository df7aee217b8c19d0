// TWAIN 2.x codes: data groups, data argument types, messages, return and
// condition codes and the constant families that travel inside the records.
#pragma once

#include "twain/types.h"

// ---- Data groups (the DG word of a triplet) and the 2.x flags beside them ---
inline constexpr TW_UINT32 DG_CONTROL = 0x0001;
inline constexpr TW_UINT32 DG_IMAGE = 0x0002;
inline constexpr TW_UINT32 DG_AUDIO = 0x0004;

// SupportedGroups flags: the 2.x manager, host and source announce themselves.
inline constexpr TW_UINT32 DF_DSM2 = 0x10000000;
inline constexpr TW_UINT32 DF_APP2 = 0x20000000;
inline constexpr TW_UINT32 DF_DS2 = 0x40000000;

// ---- Data argument types -----------------------------------------------------
inline constexpr TW_UINT16 DAT_NULL = 0x0000;
inline constexpr TW_UINT16 DAT_CUSTOMBASE = 0x8000;

inline constexpr TW_UINT16 DAT_CAPABILITY = 0x0001;
inline constexpr TW_UINT16 DAT_EVENT = 0x0002;
inline constexpr TW_UINT16 DAT_IDENTITY = 0x0003;
inline constexpr TW_UINT16 DAT_PARENT = 0x0004;
inline constexpr TW_UINT16 DAT_PENDINGXFERS = 0x0005;
inline constexpr TW_UINT16 DAT_SETUPMEMXFER = 0x0006;
inline constexpr TW_UINT16 DAT_SETUPFILEXFER = 0x0007;
inline constexpr TW_UINT16 DAT_STATUS = 0x0008;
inline constexpr TW_UINT16 DAT_USERINTERFACE = 0x0009;
inline constexpr TW_UINT16 DAT_XFERGROUP = 0x000A;
inline constexpr TW_UINT16 DAT_DEVICEEVENT = 0x000D;
inline constexpr TW_UINT16 DAT_PASSTHRU = 0x000F;
inline constexpr TW_UINT16 DAT_CALLBACK = 0x0010;
inline constexpr TW_UINT16 DAT_CALLBACK2 = 0x0012;

inline constexpr TW_UINT16 DAT_IMAGEINFO = 0x0101;
inline constexpr TW_UINT16 DAT_IMAGELAYOUT = 0x0102;
inline constexpr TW_UINT16 DAT_IMAGEMEMXFER = 0x0103;
inline constexpr TW_UINT16 DAT_IMAGENATIVEXFER = 0x0104;
inline constexpr TW_UINT16 DAT_IMAGEFILEXFER = 0x0105;

inline constexpr TW_UINT16 DAT_ENTRYPOINT = 0x0403;

// ---- Messages ------------------------------------------------------------------
inline constexpr TW_UINT16 MSG_NULL = 0x0000;
inline constexpr TW_UINT16 MSG_CUSTOMBASE = 0x8000;

// Generic messages
inline constexpr TW_UINT16 MSG_GET = 0x0001;
inline constexpr TW_UINT16 MSG_GETCURRENT = 0x0002;
inline constexpr TW_UINT16 MSG_GETDEFAULT = 0x0003;
inline constexpr TW_UINT16 MSG_GETFIRST = 0x0004;
inline constexpr TW_UINT16 MSG_GETNEXT = 0x0005;
inline constexpr TW_UINT16 MSG_SET = 0x0006;
inline constexpr TW_UINT16 MSG_RESET = 0x0007;
inline constexpr TW_UINT16 MSG_QUERYSUPPORT = 0x0008;

// DAT_NULL: from a source to its host
inline constexpr TW_UINT16 MSG_XFERREADY = 0x0101;
inline constexpr TW_UINT16 MSG_CLOSEDSREQ = 0x0102;
inline constexpr TW_UINT16 MSG_CLOSEDSOK = 0x0103;
inline constexpr TW_UINT16 MSG_DEVICEEVENT = 0x0104;

// DAT_PARENT
inline constexpr TW_UINT16 MSG_OPENDSM = 0x0301;
inline constexpr TW_UINT16 MSG_CLOSEDSM = 0x0302;

// DAT_IDENTITY
inline constexpr TW_UINT16 MSG_OPENDS = 0x0401;
inline constexpr TW_UINT16 MSG_CLOSEDS = 0x0402;
inline constexpr TW_UINT16 MSG_USERSELECT = 0x0403;

// DAT_USERINTERFACE
inline constexpr TW_UINT16 MSG_DISABLEDS = 0x0501;
inline constexpr TW_UINT16 MSG_ENABLEDS = 0x0502;
inline constexpr TW_UINT16 MSG_ENABLEDSUIONLY = 0x0503;

// DAT_EVENT
inline constexpr TW_UINT16 MSG_PROCESSEVENT = 0x0601;

// DAT_PENDINGXFERS
inline constexpr TW_UINT16 MSG_ENDXFER = 0x0701;
inline constexpr TW_UINT16 MSG_STOPFEEDER = 0x0702;

// DAT_PASSTHRU, DAT_CALLBACK, DAT_CALLBACK2
inline constexpr TW_UINT16 MSG_PASSTHRU = 0x0901;
inline constexpr TW_UINT16 MSG_REGISTER_CALLBACK = 0x0902;
// Withdrawn in 2.x but still sent by older sources: a TW_CALLBACK whose
// Message is one of the DAT_NULL messages above.
inline constexpr TW_UINT16 MSG_INVOKE_CALLBACK = 0x0903;

// ---- Return codes ----------------------------------------------------------------
inline constexpr TW_UINT16 TWRC_SUCCESS = 0;
inline constexpr TW_UINT16 TWRC_FAILURE = 1;
inline constexpr TW_UINT16 TWRC_CHECKSTATUS = 2;
inline constexpr TW_UINT16 TWRC_CANCEL = 3;
inline constexpr TW_UINT16 TWRC_DSEVENT = 4;
inline constexpr TW_UINT16 TWRC_NOTDSEVENT = 5;
inline constexpr TW_UINT16 TWRC_XFERDONE = 6;
inline constexpr TW_UINT16 TWRC_ENDOFLIST = 7;
inline constexpr TW_UINT16 TWRC_INFONOTSUPPORTED = 8;
inline constexpr TW_UINT16 TWRC_DATANOTAVAILABLE = 9;
inline constexpr TW_UINT16 TWRC_BUSY = 10;
inline constexpr TW_UINT16 TWRC_SCANNERLOCKED = 11;
inline constexpr TW_UINT16 TWRC_CUSTOMBASE = 0x8000;

// ---- Condition codes (TW_STATUS.ConditionCode) ---------------------------------------
inline constexpr TW_UINT16 TWCC_SUCCESS = 0;
inline constexpr TW_UINT16 TWCC_BUMMER = 1;
inline constexpr TW_UINT16 TWCC_LOWMEMORY = 2;
inline constexpr TW_UINT16 TWCC_NODS = 3;
inline constexpr TW_UINT16 TWCC_MAXCONNECTIONS = 4;
inline constexpr TW_UINT16 TWCC_OPERATIONERROR = 5;
inline constexpr TW_UINT16 TWCC_BADCAP = 6;
inline constexpr TW_UINT16 TWCC_BADPROTOCOL = 9;
inline constexpr TW_UINT16 TWCC_BADVALUE = 10;
inline constexpr TW_UINT16 TWCC_SEQERROR = 11;
inline constexpr TW_UINT16 TWCC_BADDEST = 12;
inline constexpr TW_UINT16 TWCC_CAPUNSUPPORTED = 13;
inline constexpr TW_UINT16 TWCC_CAPBADOPERATION = 14;
inline constexpr TW_UINT16 TWCC_CAPSEQERROR = 15;
inline constexpr TW_UINT16 TWCC_DENIED = 16;
inline constexpr TW_UINT16 TWCC_FILEEXISTS = 17;
inline constexpr TW_UINT16 TWCC_FILENOTFOUND = 18;
inline constexpr TW_UINT16 TWCC_NOTEMPTY = 19;
inline constexpr TW_UINT16 TWCC_PAPERJAM = 20;
inline constexpr TW_UINT16 TWCC_PAPERDOUBLEFEED = 21;
inline constexpr TW_UINT16 TWCC_FILEWRITEERROR = 22;
inline constexpr TW_UINT16 TWCC_CHECKDEVICEONLINE = 23;
inline constexpr TW_UINT16 TWCC_INTERLOCK = 24; // a cover or door is open
inline constexpr TW_UINT16 TWCC_NOMEDIA = 29;   // no paper in the feeder
inline constexpr TW_UINT16 TWCC_CUSTOMBASE = 0x8000;

// ---- Item types of the containers (TWTY_) ------------------------------------------
inline constexpr TW_UINT16 TWTY_INT8 = 0x0000;
inline constexpr TW_UINT16 TWTY_INT16 = 0x0001;
inline constexpr TW_UINT16 TWTY_INT32 = 0x0002;
inline constexpr TW_UINT16 TWTY_UINT8 = 0x0003;
inline constexpr TW_UINT16 TWTY_UINT16 = 0x0004;
inline constexpr TW_UINT16 TWTY_UINT32 = 0x0005;
inline constexpr TW_UINT16 TWTY_BOOL = 0x0006;
inline constexpr TW_UINT16 TWTY_FIX32 = 0x0007;
inline constexpr TW_UINT16 TWTY_FRAME = 0x0008;
inline constexpr TW_UINT16 TWTY_STR32 = 0x0009;
inline constexpr TW_UINT16 TWTY_STR64 = 0x000A;
inline constexpr TW_UINT16 TWTY_STR128 = 0x000B;
inline constexpr TW_UINT16 TWTY_STR255 = 0x000C;
inline constexpr TW_UINT16 TWTY_HANDLE = 0x000F;

// ---- Container kinds (TW_CAPABILITY.ConType) and "don't care" words ---------------
inline constexpr TW_UINT16 TWON_ARRAY = 3;
inline constexpr TW_UINT16 TWON_ENUMERATION = 4;
inline constexpr TW_UINT16 TWON_ONEVALUE = 5;
inline constexpr TW_UINT16 TWON_RANGE = 6;
inline constexpr TW_UINT8 TWON_DONTCARE8 = 0xFF;
inline constexpr TW_UINT16 TWON_DONTCARE16 = 0xFFFF;
inline constexpr TW_UINT32 TWON_DONTCARE32 = 0xFFFFFFFF;

// ---- Memory flags (TW_MEMORY.Flags) ----------------------------------------------------
inline constexpr TW_UINT32 TWMF_APPOWNS = 0x0001;
inline constexpr TW_UINT32 TWMF_DSMOWNS = 0x0002;
inline constexpr TW_UINT32 TWMF_DSOWNS = 0x0004;
inline constexpr TW_UINT32 TWMF_POINTER = 0x0008;
inline constexpr TW_UINT32 TWMF_HANDLE = 0x0010;

// ---- ICAP_SUPPORTEDSIZES (TWSS_) -----------------------------------------------------
inline constexpr TW_UINT16 TWSS_NONE = 0;
inline constexpr TW_UINT16 TWSS_A4 = 1;
inline constexpr TW_UINT16 TWSS_JISB5 = 2;
inline constexpr TW_UINT16 TWSS_USLETTER = 3;
inline constexpr TW_UINT16 TWSS_USLEGAL = 4;
inline constexpr TW_UINT16 TWSS_A5 = 5;
inline constexpr TW_UINT16 TWSS_A6 = 13;
inline constexpr TW_UINT16 TWSS_JISB6 = 39;

// ---- ICAP_IMAGEFILEFORMAT (TWFF_) ----------------------------------------------------
inline constexpr TW_UINT16 TWFF_TIFF = 0;
inline constexpr TW_UINT16 TWFF_PICT = 1;
inline constexpr TW_UINT16 TWFF_BMP = 2;
inline constexpr TW_UINT16 TWFF_XBM = 3;
inline constexpr TW_UINT16 TWFF_JFIF = 4;
inline constexpr TW_UINT16 TWFF_FPX = 5;
inline constexpr TW_UINT16 TWFF_TIFFMULTI = 6;
inline constexpr TW_UINT16 TWFF_PNG = 7;

// ---- ICAP_XFERMECH (TWSX_) ------------------------------------------------------------
inline constexpr TW_UINT16 TWSX_NATIVE = 0;
inline constexpr TW_UINT16 TWSX_FILE = 1;
inline constexpr TW_UINT16 TWSX_MEMORY = 2;
// The 1.x second file mechanism; withdrawn in 2.0, still offered by older sources.
inline constexpr TW_UINT16 TWSX_FILE2 = 3;
inline constexpr TW_UINT16 TWSX_MEMFILE = 4;

// ---- ICAP_PIXELTYPE (TWPT_) -----------------------------------------------------------
inline constexpr TW_UINT16 TWPT_BW = 0;
inline constexpr TW_UINT16 TWPT_GRAY = 1;
inline constexpr TW_UINT16 TWPT_RGB = 2;
inline constexpr TW_UINT16 TWPT_PALETTE = 3;
inline constexpr TW_UINT16 TWPT_CMY = 4;
inline constexpr TW_UINT16 TWPT_CMYK = 5;

// ---- ICAP_UNITS (TWUN_) ---------------------------------------------------------------
inline constexpr TW_UINT16 TWUN_INCHES = 0;
inline constexpr TW_UINT16 TWUN_CENTIMETERS = 1;
inline constexpr TW_UINT16 TWUN_PICAS = 2;
inline constexpr TW_UINT16 TWUN_POINTS = 3;
inline constexpr TW_UINT16 TWUN_TWIPS = 4;
inline constexpr TW_UINT16 TWUN_PIXELS = 5;
inline constexpr TW_UINT16 TWUN_MILLIMETERS = 6;

// ---- MSG_QUERYSUPPORT: the operations a capability answers (TWQC_) ---------------------
inline constexpr TW_INT32 TWQC_GET = 0x0001;
inline constexpr TW_INT32 TWQC_SET = 0x0002;
inline constexpr TW_INT32 TWQC_GETDEFAULT = 0x0004;
inline constexpr TW_INT32 TWQC_GETCURRENT = 0x0008;
inline constexpr TW_INT32 TWQC_RESET = 0x0010;

// ---- Device events (TW_DEVICEEVENT.Event) ---------------------------------------------
// A source's own events are numbered from here up.
inline constexpr TW_UINT32 TWDE_CUSTOMEVENTS = 0x8000;
// Standard events a host selects through CAP_DEVICEEVENT (its item type is
// TW_UINT16; the record carries them as TW_UINT32).
inline constexpr TW_UINT16 TWDE_DEVICEOFFLINE = 7;
inline constexpr TW_UINT16 TWDE_PAPERDOUBLEFEED = 12;
inline constexpr TW_UINT16 TWDE_PAPERJAM = 13;

// ---- TW_VERSION.Language and .Country ----------------------------------------------------
inline constexpr TW_UINT16 TWLG_USA = 13;
inline constexpr TW_UINT16 TWCY_USA = 1;
