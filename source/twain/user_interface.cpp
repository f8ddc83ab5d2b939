#include "twain/user_interface.h"

#include "twain/not_built.h"

WindowHandle SettingsDialogWindow;

TW_UINT16 UserInterfaceOperation(TripletRequest* request) { (void)request; return NotBuiltYet(); }
void ResetUserInterfaceState() {}
