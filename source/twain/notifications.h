// Notifications to the Source Manager (MSG_XFERREADY, MSG_CLOSEDSREQ).
#pragma once

void NotifyTransferReady();
void NotifyCloseRequest();
