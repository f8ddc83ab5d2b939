#include "twain/notifications.h"

void NotifyTransferReady() {}
void NotifyCloseRequest() {}
