// DAT_PENDINGXFERS, DAT_SETUPMEMXFER, DAT_SETUPFILEXFER, DAT_XFERGROUP.
#pragma once

#include "twain/entry.h"

// What DAT_SETUPFILEXFER stored; read by the file transfer. Lives with the library.
struct FileTransferSetupRecord {
    char name[256];
    TW_UINT16 format;
};
extern FileTransferSetupRecord FileTransferSetup;

TW_UINT16 PendingTransfersOperation(TripletRequest* request);
TW_UINT16 SetupMemoryTransferOperation(TripletRequest* request);
TW_UINT16 SetupFileTransferOperation(TripletRequest* request);
TW_UINT16 TransferGroupOperation(TripletRequest* request);

void ResetTransferControlState();
