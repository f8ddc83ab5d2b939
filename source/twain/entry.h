// The exported entry DS_Entry: origin screen, event routing, dispatch tables.
#pragma once

#include "twain/twain.h"

// One request as DS_Entry hands it to an operation; lives for the call only.
struct TripletRequest {
    pTW_IDENTITY origin;
    TW_UINT32 dataGroup;
    TW_UINT16 dataArgumentType;
    TW_UINT16 message;
    TW_MEMREF data;
};

using Operation = TW_UINT16 (*)(TripletRequest*);

struct DispatchEntry {
    TW_UINT16 dataArgumentType;
    Operation operation; // null closes the table
};

// The two dispatch tables, DG_CONTROL and DG_IMAGE, each closed by an entry
// without an operation.
extern const DispatchEntry ControlTable[];
extern const DispatchEntry ImageTable[];

extern "C" TW_UINT16 TW_CALLINGCONV DS_Entry(pTW_IDENTITY origin, TW_UINT32 dataGroup,
                                             TW_UINT16 dataArgumentType, TW_UINT16 message,
                                             TW_MEMREF data);
