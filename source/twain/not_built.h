// Until an operation is built, its table entry answers like an absent one.
#pragma once

#include "twain/status.h"

inline TW_UINT16 NotBuiltYet() {
    ConditionCode = TWCC_BADPROTOCOL;
    return TWRC_FAILURE;
}
