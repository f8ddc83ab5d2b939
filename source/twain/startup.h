// Module start-up, the resource module and the source's identity.
#pragma once

#include <cstddef>

#include "platform/platform.h"
#include "twain/twain.h"

// Set at process attach and read by every Part; written by nothing else except
// where noted.
extern ModuleHandle OwnModule;
extern ModuleHandle ResourceModule; // none until the first open (ChooseResourceModule)
extern TW_IDENTITY SourceIdentity;  // replaced at open by the Source Manager's record
extern char ProductText[255];       // shown by the splash and the About box
extern CursorHandle WaitCursor;
extern int ScreenWidth;
extern int ScreenHeight;

// A text buffer of the own string table, filled at start-up. Until it is
// loaded, its first byte holds the buffer's size and the next four the string
// id (little-endian); the string is then written over that header.
struct StringSlot {
    char* buffer;
};
// The slots in load order, closed by an entry without a buffer.
extern const StringSlot StringSlots[];

// The string slots, loaded from the own module at start-up.
const char* SectionName();   // string 2: INI section and every message-box caption
const char* PaperKey();      // string 70
const char* ScanTypeKey();   // string 71
const char* ResolutionKey(); // string 72
const char* DuplexKey();     // string 73
const char* BrightnessKey(); // string 74

// A string of the own module; the length copied, 0 when it is missing.
int LoadOwnString(int id, char* buffer, int size);
// A string of the ResourceModule. Before the first open no module is chosen
// and every string is missing (0), so nothing is ever looked up in the
// application's own module by accident.
int LoadResourceString(int id, char* buffer, int size);

// Process attach: true keeps the library loaded, false refuses the load.
bool ModuleProcessAttach(ModuleHandle own);
// The open's choice: the companion library when it is installed and loads,
// otherwise the own module. Keeps an earlier choice.
void ChooseResourceModule();
// Lets the companion library go; the own module serves from then on.
void ReleaseResourceModule();

void ResetStartupState();
