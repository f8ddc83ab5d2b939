#include "twain/startup.h"

ModuleHandle OwnModule;
ModuleHandle ResourceModule;
TW_IDENTITY SourceIdentity;
char ProductText[255];
CursorHandle WaitCursor;
int ScreenWidth;
int ScreenHeight;

const char* SectionName() { return ""; }
const char* PaperKey() { return ""; }
const char* ScanTypeKey() { return ""; }
const char* ResolutionKey() { return ""; }
const char* DuplexKey() { return ""; }
const char* BrightnessKey() { return ""; }

bool ModuleProcessAttach(ModuleHandle own) {
    OwnModule = own;
    return true;
}
void ChooseResourceModule() {}
void ReleaseResourceModule() {}
void ResetStartupState() {}
