// The test application's log: one line per event, a tag followed by
// key=value fields, so that the end-to-end scripts can grep and parse it.
// Both the application thread and the watcher thread write, so every line is
// written whole under a lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "twain/twain.h"

namespace twain_app {

// Condition codes the Source Manager may report beyond those the source uses.
constexpr TW_UINT16 kTwccBadDest = 12;
constexpr TW_UINT16 kTwccCapUnsupported = 13;
constexpr TW_UINT16 kTwccCapBadOperation = 14;
constexpr TW_UINT16 kTwccCapSeqError = 15;

struct LogSink {
    CRITICAL_SECTION lock;
    FILE* file = nullptr;
    bool timestamps = false;
    DWORD startTick = 0;
};

inline LogSink g_log;

inline void LogOpen(const std::string& path, bool timestamps) {
    InitializeCriticalSection(&g_log.lock);
    g_log.startTick = GetTickCount();
    g_log.timestamps = timestamps;
    g_log.file = stdout;
    if (!path.empty()) {
        FILE* f = fopen(path.c_str(), "wb");
        if (f != nullptr) {
            g_log.file = f;
        } else {
            fprintf(stderr, "twain_app: cannot open log file %s, logging to stdout\n",
                    path.c_str());
        }
    }
}

inline void LogClose() {
    if (g_log.file != nullptr && g_log.file != stdout) {
        fclose(g_log.file);
    }
    fflush(stdout);
    g_log.file = nullptr;
}

inline DWORD MillisecondsSinceStart() {
    return GetTickCount() - g_log.startTick;
}

// Quotes a text so that a line stays one line whatever the text holds.
inline std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += "\"";
    return out;
}

inline std::string Hex(uint64_t value) {
    char text[24];
    snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

inline std::string HexPtr(const void* pointer) {
    return Hex(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer)));
}

// One log line under construction: the tag first, then fields in order.
struct Line {
    std::string text;

    explicit Line(const char* tag) : text(tag) {}
    Line& Word(const std::string& word) {
        text += ' ';
        text += word;
        return *this;
    }
    Line& Int(const char* key, long long value) {
        text += ' ';
        text += key;
        text += '=';
        text += std::to_string(value);
        return *this;
    }
    Line& Raw(const char* key, const std::string& value) {
        text += ' ';
        text += key;
        text += '=';
        text += value;
        return *this;
    }
    Line& Str(const char* key, const std::string& value) { return Raw(key, Quote(value)); }
    Line& Hx(const char* key, uint64_t value) { return Raw(key, Hex(value)); }
    void Emit() {
        if (g_log.timestamps) {
            Int("t", MillisecondsSinceStart());
        }
        text += '\n';
        EnterCriticalSection(&g_log.lock);
        if (g_log.file != nullptr) {
            fwrite(text.data(), 1, text.size(), g_log.file);
            fflush(g_log.file);
        }
        LeaveCriticalSection(&g_log.lock);
    }
};

struct NamedValue {
    unsigned value;
    const char* name;
};

template <size_t N>
inline std::string NameOf(const NamedValue (&table)[N], unsigned value, const char* prefix) {
    for (const NamedValue& entry : table) {
        if (entry.value == value) {
            return entry.name;
        }
    }
    char text[48];
    snprintf(text, sizeof text, "%s0x%04X", prefix, value);
    return text;
}

template <size_t N>
inline bool ValueOf(const NamedValue (&table)[N], const std::string& name, unsigned* value) {
    for (const NamedValue& entry : table) {
        if (_stricmp(entry.name, name.c_str()) == 0) {
            *value = entry.value;
            return true;
        }
    }
    return false;
}

constexpr NamedValue kGroupNames[] = {{DG_CONTROL, "DG_CONTROL"}, {DG_IMAGE, "DG_IMAGE"}};

constexpr NamedValue kDatNames[] = {
    {DAT_NULL, "DAT_NULL"},
    {DAT_CAPABILITY, "DAT_CAPABILITY"},
    {DAT_EVENT, "DAT_EVENT"},
    {DAT_IDENTITY, "DAT_IDENTITY"},
    {DAT_PARENT, "DAT_PARENT"},
    {DAT_PENDINGXFERS, "DAT_PENDINGXFERS"},
    {DAT_SETUPMEMXFER, "DAT_SETUPMEMXFER"},
    {DAT_SETUPFILEXFER, "DAT_SETUPFILEXFER"},
    {DAT_STATUS, "DAT_STATUS"},
    {DAT_USERINTERFACE, "DAT_USERINTERFACE"},
    {DAT_XFERGROUP, "DAT_XFERGROUP"},
    {DAT_IMAGEINFO, "DAT_IMAGEINFO"},
    {DAT_IMAGELAYOUT, "DAT_IMAGELAYOUT"},
    {DAT_IMAGEMEMXFER, "DAT_IMAGEMEMXFER"},
    {DAT_IMAGENATIVEXFER, "DAT_IMAGENATIVEXFER"},
    {DAT_IMAGEFILEXFER, "DAT_IMAGEFILEXFER"},
    {DAT_PALETTE8, "DAT_PALETTE8"},
};

constexpr NamedValue kMsgNames[] = {
    {MSG_NULL, "MSG_NULL"},
    {MSG_GET, "MSG_GET"},
    {MSG_GETCURRENT, "MSG_GETCURRENT"},
    {MSG_GETDEFAULT, "MSG_GETDEFAULT"},
    {MSG_GETFIRST, "MSG_GETFIRST"},
    {MSG_GETNEXT, "MSG_GETNEXT"},
    {MSG_SET, "MSG_SET"},
    {MSG_RESET, "MSG_RESET"},
    {MSG_QUERYSUPPORT, "MSG_QUERYSUPPORT"},
    {MSG_XFERREADY, "MSG_XFERREADY"},
    {MSG_CLOSEDSREQ, "MSG_CLOSEDSREQ"},
    {MSG_CLOSEDSOK, "MSG_CLOSEDSOK"},
    {MSG_OPENDSM, "MSG_OPENDSM"},
    {MSG_CLOSEDSM, "MSG_CLOSEDSM"},
    {MSG_OPENDS, "MSG_OPENDS"},
    {MSG_CLOSEDS, "MSG_CLOSEDS"},
    {MSG_USERSELECT, "MSG_USERSELECT"},
    {MSG_DISABLEDS, "MSG_DISABLEDS"},
    {MSG_ENABLEDS, "MSG_ENABLEDS"},
    {MSG_ENABLEDSUIONLY, "MSG_ENABLEDSUIONLY"},
    {MSG_PROCESSEVENT, "MSG_PROCESSEVENT"},
    {MSG_ENDXFER, "MSG_ENDXFER"},
};

constexpr NamedValue kReturnCodeNames[] = {
    {TWRC_SUCCESS, "TWRC_SUCCESS"},         {TWRC_FAILURE, "TWRC_FAILURE"},
    {TWRC_CHECKSTATUS, "TWRC_CHECKSTATUS"}, {TWRC_CANCEL, "TWRC_CANCEL"},
    {TWRC_DSEVENT, "TWRC_DSEVENT"},         {TWRC_NOTDSEVENT, "TWRC_NOTDSEVENT"},
    {TWRC_XFERDONE, "TWRC_XFERDONE"},       {TWRC_ENDOFLIST, "TWRC_ENDOFLIST"},
};

constexpr NamedValue kConditionNames[] = {
    {TWCC_SUCCESS, "TWCC_SUCCESS"},
    {TWCC_BUMMER, "TWCC_BUMMER"},
    {TWCC_LOWMEMORY, "TWCC_LOWMEMORY"},
    {TWCC_NODS, "TWCC_NODS"},
    {TWCC_MAXCONNECTIONS, "TWCC_MAXCONNECTIONS"},
    {TWCC_OPERATIONERROR, "TWCC_OPERATIONERROR"},
    {TWCC_BADCAP, "TWCC_BADCAP"},
    {TWCC_DISKACCESS, "TWCC_DISKACCESS"},
    {TWCC_BADPROTOCOL, "TWCC_BADPROTOCOL"},
    {TWCC_BADVALUE, "TWCC_BADVALUE"},
    {TWCC_SEQERROR, "TWCC_SEQERROR"},
    {kTwccBadDest, "TWCC_BADDEST"},
    {kTwccCapUnsupported, "TWCC_CAPUNSUPPORTED"},
    {kTwccCapBadOperation, "TWCC_CAPBADOPERATION"},
    {kTwccCapSeqError, "TWCC_CAPSEQERROR"},
};

constexpr NamedValue kItemTypeNames[] = {
    {TWTY_INT8, "TWTY_INT8"},     {TWTY_INT16, "TWTY_INT16"},   {TWTY_INT32, "TWTY_INT32"},
    {TWTY_UINT8, "TWTY_UINT8"},   {TWTY_UINT16, "TWTY_UINT16"}, {TWTY_UINT32, "TWTY_UINT32"},
    {TWTY_BOOL, "TWTY_BOOL"},     {TWTY_FIX32, "TWTY_FIX32"},   {TWTY_FRAME, "TWTY_FRAME"},
    {TWTY_STR32, "TWTY_STR32"},   {TWTY_STR64, "TWTY_STR64"},   {TWTY_STR128, "TWTY_STR128"},
    {TWTY_STR255, "TWTY_STR255"},
};

constexpr NamedValue kContainerNames[] = {
    {TWON_ARRAY, "TWON_ARRAY"},
    {TWON_ENUMERATION, "TWON_ENUMERATION"},
    {TWON_ONEVALUE, "TWON_ONEVALUE"},
    {TWON_RANGE, "TWON_RANGE"},
};

inline std::string ReturnCodeName(TW_UINT16 rc) {
    return NameOf(kReturnCodeNames, rc, "TWRC_");
}
inline std::string ConditionName(TW_UINT16 cc) {
    return NameOf(kConditionNames, cc, "TWCC_");
}

inline std::string TripletName(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 msg) {
    return NameOf(kGroupNames, group, "DG_") + "/" + NameOf(kDatNames, dat, "DAT_") + "/" +
           NameOf(kMsgNames, msg, "MSG_");
}

inline std::string Fix32Text(TW_FIX32 value) {
    // Whole carries the sign; Frac always adds a positive fraction.
    double number = value.Whole + value.Frac / 65536.0;
    char text[32];
    if (value.Frac == 0) {
        snprintf(text, sizeof text, "%d", value.Whole);
    } else {
        snprintf(text, sizeof text, "%.4f", number);
    }
    return text;
}

inline TW_FIX32 Fix32From(double number) {
    TW_INT32 scaled = static_cast<TW_INT32>(number * 65536.0 + (number < 0 ? -0.5 : 0.5));
    TW_FIX32 value;
    value.Whole = static_cast<TW_INT16>(scaled >> 16);
    value.Frac = static_cast<TW_UINT16>(scaled & 0xFFFF);
    return value;
}

} // namespace twain_app
