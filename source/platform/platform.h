// The one boundary between the data source and the operating system.
// The system's code reaches Win32 only through these procedures. Two
// implementations exist: platform/win32 (the real calls, in the DLL) and
// platform/host (a recording simulation for the host tests).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_constants.h"

#if defined(_WIN32) && !defined(_WIN64)
#define TQ_CALLBACK __stdcall
#else
#define TQ_CALLBACK
#endif

using WindowHandle = void*;
using MemoryBlock = void*;
using FileHandle = void*;
using ModuleHandle = void*;
using CursorHandle = void*;
using DeviceContext = void*;
using WParam = uintptr_t;
using LParam = intptr_t;
using DialogResult = intptr_t;
using DialogProc = DialogResult(TQ_CALLBACK*)(WindowHandle, uint32_t, WParam, LParam);

// The not-open mark of a file or device handle (INVALID_HANDLE_VALUE).
inline FileHandle const kInvalidFile = reinterpret_cast<FileHandle>(static_cast<intptr_t>(-1));

// A resource named by number, as MAKEINTRESOURCE does it.
inline const char* ResourceId(int id) {
    return reinterpret_cast<const char*>(static_cast<uintptr_t>(static_cast<uint16_t>(id)));
}

// The window message record that MSG_PROCESSEVENT hands over (the layout of MSG).
struct PlatformMsg {
    WindowHandle hwnd;
    uint32_t message;
    WParam wParam;
    LParam lParam;
    uint32_t time;
    int32_t ptX;
    int32_t ptY;
};

struct PlatformRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// Global memory.
MemoryBlock PlatformGlobalAlloc(uint32_t flags, size_t bytes);
void* PlatformGlobalLock(MemoryBlock block);
bool PlatformGlobalUnlock(MemoryBlock block);
MemoryBlock PlatformGlobalFree(MemoryBlock block); // null on success, as GlobalFree
size_t PlatformGlobalSize(MemoryBlock block);

// Files and devices (usbscan device and pipe names go through the same calls).
FileHandle PlatformCreateFile(const char* name, uint32_t access, uint32_t share,
                              uint32_t disposition, uint32_t attributes);
bool PlatformReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* read);
bool PlatformWriteFile(FileHandle file, const void* buffer, uint32_t size, uint32_t* written);
uint32_t PlatformSetFilePointer(FileHandle file, int32_t distance, uint32_t method);
bool PlatformCloseHandle(FileHandle file);
bool PlatformDeleteFile(const char* name);
bool PlatformDeviceIoControl(FileHandle device, uint32_t code, void* in, uint32_t inSize, void* out,
                             uint32_t outSize, uint32_t* returned);

// Directories, temporary files and disk space.
uint32_t PlatformGetWindowsDirectory(char* buffer, uint32_t size);
uint32_t PlatformGetTempPath(uint32_t size, char* buffer);
uint32_t PlatformGetTempFileName(const char* path, const char* prefix, uint32_t unique,
                                 char* name);
bool PlatformGetDiskFreeSpace(const char* root, uint32_t* sectorsPerCluster,
                              uint32_t* bytesPerSector, uint32_t* freeClusters,
                              uint32_t* totalClusters);

// Private profile (INI) files.
uint32_t PlatformGetPrivateProfileInt(const char* section, const char* key, int32_t fallback,
                                      const char* file);
bool PlatformWritePrivateProfileString(const char* section, const char* key, const char* value,
                                       const char* file);

void PlatformSleep(uint32_t milliseconds);

// Libraries and string resources.
ModuleHandle PlatformLoadLibrary(const char* name);
void* PlatformGetProcAddress(ModuleHandle module, const char* name);
bool PlatformFreeLibrary(ModuleHandle module);
int PlatformLoadString(ModuleHandle module, uint32_t id, char* buffer, int size);

// Windows, dialogs and controls.
int PlatformMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t type);
WindowHandle PlatformGetActiveWindow();
WindowHandle PlatformCreateDialog(ModuleHandle module, const char* templateName,
                                  WindowHandle parent, DialogProc procedure);
DialogResult PlatformDialogBox(ModuleHandle module, const char* templateName, WindowHandle owner,
                               DialogProc procedure);
bool PlatformEndDialog(WindowHandle dialog, DialogResult result);
bool PlatformDestroyWindow(WindowHandle window);
bool PlatformShowWindow(WindowHandle window, int command);
bool PlatformUpdateWindow(WindowHandle window);
bool PlatformBringWindowToTop(WindowHandle window);
bool PlatformIsWindow(WindowHandle window);
bool PlatformIsDialogMessage(WindowHandle dialog, PlatformMsg* message);
WindowHandle PlatformGetDlgItem(WindowHandle dialog, int control);
bool PlatformSetDlgItemText(WindowHandle dialog, int control, const char* text);
uint32_t PlatformGetDlgItemText(WindowHandle dialog, int control, char* buffer, int size);
LParam PlatformSendDlgItemMessage(WindowHandle dialog, int control, uint32_t message, WParam wParam,
                                  LParam lParam);
WindowHandle PlatformSetFocus(WindowHandle window);
bool PlatformSetScrollRange(WindowHandle window, int bar, int minimum, int maximum, bool redraw);
int PlatformSetScrollPos(WindowHandle window, int bar, int position, bool redraw);
bool PlatformGetWindowRect(WindowHandle window, PlatformRect* rect);
bool PlatformMoveWindow(WindowHandle window, int x, int y, int width, int height, bool repaint);

// Cursors.
CursorHandle PlatformLoadCursor(int cursorId); // kCursorWait, kCursorArrow
CursorHandle PlatformSetCursor(CursorHandle cursor);

// Display information context ("DISPLAY").
DeviceContext PlatformCreateDisplayIC();
int PlatformGetDeviceCaps(DeviceContext context, int index);
bool PlatformDeleteDC(DeviceContext context);

// HTML Help, reached at run time so that the library loads where it is missing.
void PlatformHtmlHelp(WindowHandle caller, const char* file, uint32_t command, uintptr_t data);
