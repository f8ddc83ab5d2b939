#include "twain/entry.h"

// Built by the foundation.
extern "C" TW_UINT16 TW_CALLINGCONV DS_Entry(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16,
                                             TW_MEMREF) {
    return TWRC_FAILURE;
}
