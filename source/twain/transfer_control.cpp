#include "twain/transfer_control.h"

#include "twain/not_built.h"

FileTransferSetupRecord FileTransferSetup;

TW_UINT16 PendingTransfersOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
TW_UINT16 SetupMemoryTransferOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
TW_UINT16 SetupFileTransferOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
TW_UINT16 TransferGroupOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
void ResetTransferControlState() {}
