// Window placement and the splash, About and progress dialogs.
#pragma once

#include "platform/platform.h"

void PlaceWindow(WindowHandle window, int mode);

extern "C" DialogResult TQ_CALLBACK WaitMess(WindowHandle dialog, uint32_t message, WParam wParam,
                                             LParam lParam);
extern "C" DialogResult TQ_CALLBACK AboutDlg(WindowHandle dialog, uint32_t message, WParam wParam,
                                             LParam lParam);
DialogResult TQ_CALLBACK ScanningDlg(WindowHandle dialog, uint32_t message, WParam wParam,
                                     LParam lParam);
