#include "ui/small_dialogs.h"

void PlaceWindow(WindowHandle, int) {}
extern "C" DialogResult TQ_CALLBACK WaitMess(WindowHandle, uint32_t, WParam, LParam) { return 0; }
extern "C" DialogResult TQ_CALLBACK AboutDlg(WindowHandle, uint32_t, WParam, LParam) { return 0; }
DialogResult TQ_CALLBACK ScanningDlg(WindowHandle, uint32_t, WParam, LParam) { return 0; }
