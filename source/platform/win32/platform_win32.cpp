// The platform boundary on Win32: each procedure is the system call of the
// same name, nothing more.
#include <windows.h>

#include "platform/platform.h"
#include "twain/startup.h"

static_assert(GMEM_MOVEABLE == 0x0002 && GHND == 0x0042 && GPTR == 0x0040);
static_assert(WM_INITDIALOG == 0x0110 && WM_COMMAND == 0x0111 && WM_HSCROLL == 0x0114);
static_assert(sizeof(PlatformMsg) == sizeof(MSG));

namespace {
HWND W(WindowHandle window) { return static_cast<HWND>(window); }
HGLOBAL G(MemoryBlock block) { return static_cast<HGLOBAL>(block); }
HANDLE F(FileHandle file) { return static_cast<HANDLE>(file); }
HMODULE M(ModuleHandle module) { return static_cast<HMODULE>(module); }
} // namespace

MemoryBlock PlatformGlobalAlloc(uint32_t flags, size_t bytes) { return GlobalAlloc(flags, bytes); }
void* PlatformGlobalLock(MemoryBlock block) { return GlobalLock(G(block)); }
bool PlatformGlobalUnlock(MemoryBlock block) { return GlobalUnlock(G(block)) != FALSE; }
MemoryBlock PlatformGlobalFree(MemoryBlock block) { return GlobalFree(G(block)); }
size_t PlatformGlobalSize(MemoryBlock block) { return GlobalSize(G(block)); }

FileHandle PlatformCreateFile(const char* name, uint32_t access, uint32_t share,
                              uint32_t disposition, uint32_t attributes) {
    return CreateFileA(name, access, share, nullptr, disposition, attributes, nullptr);
}
bool PlatformReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* read) {
    DWORD count = 0;
    BOOL ok = ReadFile(F(file), buffer, size, &count, nullptr);
    *read = count;
    return ok != FALSE;
}
bool PlatformWriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* written) {
    DWORD count = 0;
    BOOL ok = WriteFile(F(file), buffer, size, &count, nullptr);
    *written = count;
    return ok != FALSE;
}
uint32_t PlatformSetFilePointer(FileHandle file, int32_t distance, uint32_t method) {
    return SetFilePointer(F(file), distance, nullptr, method);
}
bool PlatformCloseHandle(FileHandle file) { return CloseHandle(F(file)) != FALSE; }
bool PlatformDeleteFile(const char* name) { return DeleteFileA(name) != FALSE; }
bool PlatformDeviceIoControl(FileHandle device, uint32_t code, void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* returned) {
    DWORD count = 0;
    BOOL ok = DeviceIoControl(F(device), code, in, inSize, out, outSize, &count, nullptr);
    *returned = count;
    return ok != FALSE;
}

uint32_t PlatformGetWindowsDirectory(char* buffer, uint32_t size) {
    return GetWindowsDirectoryA(buffer, size);
}
uint32_t PlatformGetTempPath(uint32_t size, char* buffer) { return GetTempPathA(size, buffer); }
uint32_t PlatformGetTempFileName(const char* path, const char* prefix, uint32_t unique,
                                 char* name) {
    return GetTempFileNameA(path, prefix, unique, name);
}
bool PlatformGetDiskFreeSpace(const char* root, uint32_t* sectorsPerCluster,
                              uint32_t* bytesPerSector, uint32_t* freeClusters,
                              uint32_t* totalClusters) {
    DWORD spc = 0, bps = 0, free = 0, total = 0;
    BOOL ok = GetDiskFreeSpaceA(root, &spc, &bps, &free, &total);
    *sectorsPerCluster = spc;
    *bytesPerSector = bps;
    *freeClusters = free;
    *totalClusters = total;
    return ok != FALSE;
}

uint32_t PlatformGetPrivateProfileInt(const char* section, const char* key, int32_t fallback,
                                      const char* file) {
    return GetPrivateProfileIntA(section, key, fallback, file);
}
bool PlatformWritePrivateProfileString(const char* section, const char* key, const char* value,
                                       const char* file) {
    return WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

void PlatformSleep(uint32_t milliseconds) { Sleep(milliseconds); }

ModuleHandle PlatformLoadLibrary(const char* name) { return LoadLibraryA(name); }
void* PlatformGetProcAddress(ModuleHandle module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(M(module), name));
}
bool PlatformFreeLibrary(ModuleHandle module) { return FreeLibrary(M(module)) != FALSE; }
int PlatformLoadString(ModuleHandle module, uint32_t id, char* buffer, int size) {
    return LoadStringA(static_cast<HINSTANCE>(module), id, buffer, size);
}

int PlatformMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type) {
    return MessageBoxA(W(owner), text, caption, type);
}
WindowHandle PlatformGetActiveWindow() { return GetActiveWindow(); }
WindowHandle PlatformCreateDialog(ModuleHandle module, const char* templateName,
                                  WindowHandle parent, DialogProc procedure) {
    return CreateDialogParamA(static_cast<HINSTANCE>(module), templateName, W(parent),
                              reinterpret_cast<DLGPROC>(procedure), 0);
}
DialogResult PlatformDialogBox(ModuleHandle module, const char* templateName, WindowHandle owner,
                               DialogProc procedure) {
    return DialogBoxParamA(static_cast<HINSTANCE>(module), templateName, W(owner),
                           reinterpret_cast<DLGPROC>(procedure), 0);
}
bool PlatformEndDialog(WindowHandle dialog, DialogResult result) {
    return EndDialog(W(dialog), result) != FALSE;
}
bool PlatformDestroyWindow(WindowHandle window) { return DestroyWindow(W(window)) != FALSE; }
bool PlatformShowWindow(WindowHandle window, int command) {
    return ShowWindow(W(window), command) != FALSE;
}
bool PlatformUpdateWindow(WindowHandle window) { return UpdateWindow(W(window)) != FALSE; }
bool PlatformBringWindowToTop(WindowHandle window) { return BringWindowToTop(W(window)) != FALSE; }
bool PlatformIsWindow(WindowHandle window) { return IsWindow(W(window)) != FALSE; }
bool PlatformIsDialogMessage(WindowHandle dialog, PlatformMsg* message) {
    return IsDialogMessageA(W(dialog), reinterpret_cast<MSG*>(message)) != FALSE;
}
WindowHandle PlatformGetDlgItem(WindowHandle dialog, int control) {
    return GetDlgItem(W(dialog), control);
}
bool PlatformSetDlgItemText(WindowHandle dialog, int control, const char* text) {
    return SetDlgItemTextA(W(dialog), control, text) != FALSE;
}
uint32_t PlatformGetDlgItemText(WindowHandle dialog, int control, char* buffer, int size) {
    return GetDlgItemTextA(W(dialog), control, buffer, size);
}
LParam PlatformSendDlgItemMessage(WindowHandle dialog, int control, uint32_t message, WParam wParam,
                                  LParam lParam) {
    return SendDlgItemMessageA(W(dialog), control, message, wParam, lParam);
}
WindowHandle PlatformSetFocus(WindowHandle window) { return SetFocus(W(window)); }
bool PlatformSetScrollRange(WindowHandle window, int bar, int minimum, int maximum, bool redraw) {
    return SetScrollRange(W(window), bar, minimum, maximum, redraw) != FALSE;
}
int PlatformSetScrollPos(WindowHandle window, int bar, int position, bool redraw) {
    return SetScrollPos(W(window), bar, position, redraw);
}
bool PlatformGetWindowRect(WindowHandle window, PlatformRect* rect) {
    RECT r{};
    BOOL ok = GetWindowRect(W(window), &r);
    *rect = PlatformRect{r.left, r.top, r.right, r.bottom};
    return ok != FALSE;
}
bool PlatformMoveWindow(WindowHandle window, int x, int y, int width, int height, bool repaint) {
    return MoveWindow(W(window), x, y, width, height, repaint) != FALSE;
}

CursorHandle PlatformLoadCursor(int cursorId) {
    return LoadCursorA(nullptr, MAKEINTRESOURCEA(cursorId));
}
CursorHandle PlatformSetCursor(CursorHandle cursor) { return SetCursor(static_cast<HCURSOR>(cursor)); }

DeviceContext PlatformCreateDisplayIC() { return CreateICA("DISPLAY", nullptr, nullptr, nullptr); }
int PlatformGetDeviceCaps(DeviceContext context, int index) {
    return GetDeviceCaps(static_cast<HDC>(context), index);
}
bool PlatformDeleteDC(DeviceContext context) { return DeleteDC(static_cast<HDC>(context)) != FALSE; }

void PlatformHtmlHelp(WindowHandle caller, const char* file, uint32_t command, uintptr_t data) {
    // HTML Help lives in hhctrl.ocx; it is reached at run time so that the
    // source loads on systems without it.
    using HtmlHelpProc = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
    HMODULE library = LoadLibraryA("hhctrl.ocx");
    if (library == nullptr) {
        return;
    }
    auto htmlHelp = reinterpret_cast<HtmlHelpProc>(
        reinterpret_cast<void*>(GetProcAddress(library, "HtmlHelpA")));
    if (htmlHelp != nullptr) {
        htmlHelp(W(caller), file, command, data);
    }
    // The viewer window keeps running inside hhctrl; the library stays loaded.
}

// The load notification: process attach runs the start-up; the others do nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        return ModuleProcessAttach(instance) ? TRUE : FALSE;
    }
    return TRUE;
}
