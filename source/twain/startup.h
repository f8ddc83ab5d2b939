// Module start-up, the resource module and the source's identity.
#pragma once

#include "platform/platform.h"
#include "twain/twain.h"

// Set at process attach and read by every Part; written by nothing else except
// where noted.
extern ModuleHandle OwnModule;
extern ModuleHandle ResourceModule;   // none until the first open (ChooseResourceModule)
extern TW_IDENTITY SourceIdentity;    // replaced at open by the Source Manager's record
extern char ProductText[255];
extern CursorHandle WaitCursor;
extern int ScreenWidth;
extern int ScreenHeight;

// The string slots, loaded from the own module at start-up.
const char* SectionName();   // string 2: INI section and every message-box caption
const char* PaperKey();      // string 70
const char* ScanTypeKey();   // string 71
const char* ResolutionKey(); // string 72
const char* DuplexKey();     // string 73
const char* BrightnessKey(); // string 74

// Process attach: true keeps the library loaded, false refuses the load.
bool ModuleProcessAttach(ModuleHandle own);
void ChooseResourceModule();
void ReleaseResourceModule();

void ResetStartupState();
