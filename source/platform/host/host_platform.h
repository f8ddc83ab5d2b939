// Control of the host simulation of the platform boundary, for tests, fuzzers
// and benchmarks. The system's code sees only platform/platform.h; a test sets
// up scenarios and reads back what the system did through namespace host.
//
// Usage in a GoogleTest test (tests/support/source_fixture.h does the first
// and last steps for you):
//
//   host::Reset();                         // fresh simulation, new scratch directory
//   host::SetCompanion(host::Companion::Loadable);   // scenarios before the load
//   ASSERT_TRUE(host::LoadDataSource());   // "loads the library": process attach
//   ... DS_Entry(...) ...
//   EXPECT_EQ(host::MessageBoxes().back().text, "Scanner not ready");
//   for (auto& problem : host::TearDownProblems()) ADD_FAILURE() << problem;
//
// Memory: handles are small integers (they fit in a TW_UINT32). A block the
// application receives (container, DIB) is the test's to free with
// PlatformGlobalFree (or host::FreeApplicationBlock); any block still alive
// at the end is a leak. Moveable blocks are poisoned for AddressSanitizer
// while unlocked, so use of a pointer after GlobalUnlock is caught too; read
// a block's bytes without locking it through host::BlockBytes.
//
// Files: Windows paths map into a per-test scratch directory:
// "C:\dir\file" -> <scratch>/C/dir/file, "\\server\share\f" ->
// <scratch>/UNC/server/share/f, relative names -> the current directory
// (default "C:\cwd"). Lookup is case-insensitive per path component. The
// Windows directory ("C:\WINDOWS"), the temporary path ("C:\TEMP\") and the
// current directory exist at Reset.
//
// Dialogs: controls are placed at (x * 3 / 2, y * 2) pixels for dialog units
// (x, y), relative to the dialog; a dialog's frame keeps its own template
// position likewise, on a screen of the display size. The edit control sends
// EN_CHANGE synchronously on every change of its text, as Windows does.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "twain/twain.h"

namespace host {

// ---- Whole simulation

// Everything back to its defaults: frees every block, closes every handle,
// forgets every record and starts a new empty scratch directory.
void Reset();
// Runs what loading the library runs: ResetAllModuleState(), then the process
// attach with the own module. Returns the attach's answer (false refuses the load).
bool LoadDataSource();
// Leaked global-memory blocks, memory and handle errors, leaked file and device
// handles and display contexts, unbalanced FreeLibrary calls: one line each.
// Empty when the test left everything clean.
std::vector<std::string> TearDownProblems();
// Frees everything and removes the scratch directory (Reset does this too).
void Shutdown();

// Every misuse the simulation noticed (double free, use of a freed or unknown
// handle, unlock of an unlocked block, ...), in order.
const std::vector<std::string>& Errors();
void ClearErrors();

// ---- Global memory

struct BlockInfo {
    uint32_t flags;
    size_t size;
    int locks;
    bool freed;
};

size_t LiveBlockCount();
int LiveLockCount(); // sum of the lock counts of the live blocks
std::vector<MemoryBlock> LiveBlocks();
int AllocationCalls(); // PlatformGlobalAlloc calls since Reset, failed ones included
int LockCalls();       // PlatformGlobalLock calls since Reset
std::optional<BlockInfo> Block(MemoryBlock block); // nullopt for a handle never allocated
// The block's bytes (a copy), whether locked or not; empty and an error for a
// freed or unknown handle.
std::vector<uint8_t> BlockBytes(MemoryBlock block);
size_t BlockSize(MemoryBlock block);
// The handle as the native transfer stores it in a TW_UINT32, and back.
uint32_t HandleValue(MemoryBlock block);
MemoryBlock BlockFromHandleValue(uint32_t value);
// What an application does with a block it received: unlocks nothing, frees it
// (PlatformGlobalFree). Records an error when the free fails.
void FreeApplicationBlock(MemoryBlock block);
// A block the test lets live past its end (e.g. a source-owned buffer of a
// test that does not close the source); it is then not reported as leaked.
void ExpectAliveAtTearDown(MemoryBlock block);

// Fault injection. Allocation numbers count PlatformGlobalAlloc calls since
// Reset, from 1 (AllocationCalls() + 1 is the next one).
void FailAllocation(int number);
void FailAllocationsFrom(int number);
void FailNextAllocation();
// Full control: return true to make that allocation fail.
void SetAllocationFailure(std::function<bool(uint32_t flags, size_t bytes, int number)> fails);
void FailLocksOf(MemoryBlock block); // every lock of that block fails
void FailNextLock();
void SetPoisonUnlockedBlocks(bool poison); // default on (with AddressSanitizer)
// Blocks that are not zero-filled start as 0xCD and freed ones are overwritten
// with 0xDD, so that reliance on either shows in tests; Windows does neither.
// Default on; the benchmark turns it off to time the system's own work.
void SetGarbageFill(bool fill);

// ---- Files, directories and disks

std::string ScratchDirectory();
std::string HostPath(const std::string& windowsPath); // where the name lands
void SetWindowsDirectory(const std::string& path);    // e.g. "C:\\WINDOWS" (created)
void SetTempPath(const std::string& path);            // e.g. "D:\\TMP\\" (created)
void SetCurrentDirectory(const std::string& path);    // e.g. "C:\\cwd" (created)
std::string WindowsDirectory();
std::string TempPath();

bool FileExists(const std::string& windowsPath);
bool DirectoryExists(const std::string& windowsPath);
std::optional<std::string> ReadFileText(const std::string& windowsPath);      // bytes as they are
std::vector<uint8_t> ReadFileBytes(const std::string& windowsPath);           // empty when missing
void WriteFileText(const std::string& windowsPath, const std::string& bytes); // makes folders
void MakeDirectory(const std::string& windowsPath);                           // and parents
void RemovePath(const std::string& windowsPath);                              // file or folder tree

int OpenFileHandleCount();   // regular files open through PlatformCreateFile
int OpenDeviceHandleCount(); // usbscan handles open

struct CreateFileCall {
    std::string name;
    uint32_t access, share, disposition, attributes;
    bool opened;
};
const std::vector<CreateFileCall>& CreateFileCalls(); // files and devices alike
const std::vector<std::string>& DeletedFiles();       // names given to PlatformDeleteFile

// Disk full: once this many more bytes have gone to files, writes fail (the
// write that crosses the limit writes what still fits and fails).
void FailFileWritesAfter(uint64_t bytes);
void FailCreateFile(const std::string& windowsPath); // creation/opening of that name fails
// SetFilePointer goes no further than this offset (and reports where it went).
void LimitFilePointer(uint32_t offset);

struct DiskSpace {
    uint32_t sectorsPerCluster = 8;
    uint32_t bytesPerSector = 512;
    uint32_t freeClusters = 1000000;
    uint32_t totalClusters = 2000000;
};
// root as the system asks for it, e.g. "D:\\" (case-insensitive). Any "X:\\" root
// answers the default DiskSpace unless set; other roots fail unless set.
void SetDiskFreeSpace(const std::string& root, DiskSpace space);
void FailDiskFreeSpace(const std::string& root);
const std::vector<std::string>& DiskFreeSpaceCalls(); // the roots asked for

struct TempFileNameCall {
    std::string path, prefix;
    uint32_t unique;
    uint32_t result;
    std::string name; // full name returned, empty on failure
};
const std::vector<TempFileNameCall>& TempFileNameCalls();
void SetNextTempFileNumber(uint32_t number); // default 1: "QMX0001.TMP"

// The value stored under a key of an INI file, as GetPrivateProfileString reads
// it (section and key case-insensitive); nullopt when missing.
std::optional<std::string> IniValue(const std::string& windowsPath, const std::string& section,
                                    const std::string& key);

// ---- Libraries, strings and the Source Manager

ModuleHandle OwnModuleHandle();
ModuleHandle CompanionModuleHandle();
ModuleHandle SourceManagerModuleHandle();

// Replaces (text) or removes (nullptr) a string of the own module's table.
void SetOwnString(int id, const char* text);

// The companion library at WindowsDirectory() + "\TWAIN_32\ZARVIK\ZARVIK.DLL".
// Setting a scenario writes or removes that file under the current Windows
// directory (set the Windows directory first).
enum class Companion { Absent, NotLoadable, Loadable };
void SetCompanion(Companion scenario);
// Its string table starts as a copy of the own table, without string 206.
void SetCompanionString(int id, const char* text); // nullptr removes
void SetCompanionMarker(const char* text);         // string 206; nullptr removes
// Put before every text the companion serves, so a test sees where a text came from.
void SetCompanionStringPrefix(const std::string& prefix);
void SetCompanionTemplates(bool present); // default true

enum class SourceManager { Present, Absent, EntryMissing };
void SetSourceManager(SourceManager scenario); // default Present

struct LibraryCall {
    std::string operation; // "LoadLibrary", "GetProcAddress", "FreeLibrary"
    std::string name;      // library or entry name
    ModuleHandle module;
    bool succeeded;
};
const std::vector<LibraryCall>& LibraryCalls();
int LibraryReferences(ModuleHandle module); // loads minus frees

// TWAIN records are packed to two bytes, so gtest's EXPECT_EQ (which binds a
// reference) on a 32-bit field of one is misaligned for UBSan: compare a copy,
// e.g. EXPECT_EQ(TW_UINT32{call.origin.Id}, 2u).
struct DsmCall {
    alignas(4) TW_IDENTITY origin;
    bool hasDestination;
    alignas(4) TW_IDENTITY destination;
    TW_UINT32 dataGroup;
    TW_UINT16 dataArgumentType;
    TW_UINT16 message;
    TW_MEMREF data;
};
const std::vector<DsmCall>& DsmCalls();
// Called inside DSM_Entry after the call is recorded; its result is DSM_Entry's.
void OnDsmCall(std::function<TW_UINT16(const DsmCall&)> hook);

// ---- Message boxes, display, cursors, sleep, help

struct MessageBoxCall {
    WindowHandle owner;
    std::string text;
    std::string caption;
    uint32_t type;
};
const std::vector<MessageBoxCall>& MessageBoxes();
// Runs while the box is "open", before PlatformMessageBox returns.
void OnMessageBox(std::function<void(const MessageBoxCall&)> hook);
void SetMessageBoxResult(int result); // default IDOK

void SetDisplaySize(int width, int height); // default 1024 x 768
void SetNoDisplay();                        // the display context cannot be created
int OpenDisplayContextCount();

int CurrentCursor();                  // kCursorArrow (start), kCursorWait, or 0 (none)
const std::vector<int>& CursorsSet(); // every PlatformSetCursor, by cursor id

const std::vector<uint32_t>& SleepCalls();

// The application's window, the active window unless a test sets another.
inline WindowHandle const kApplicationWindow = reinterpret_cast<WindowHandle>(0x0A000010u);
void SetActiveWindow(WindowHandle window);

struct HtmlHelpCall {
    WindowHandle caller;
    std::string file;
    uint32_t command;
    uintptr_t data;
};
const std::vector<HtmlHelpCall>& HtmlHelpCalls();

// ---- usbscan

struct DeviceOpen {
    std::string name;
    bool opened;
};
const std::vector<DeviceOpen>& DeviceOpens(); // every "\\.\Usbscan..." CreateFile

// ---- Windows and dialogs

struct WindowInfo {
    WindowHandle handle;
    WindowHandle parent; // the dialog of a control; the owner of a dialog
    bool isDialog;
    int templateId;           // dialogs: number of the template (0 for a named one)
    std::string templateName; // dialogs: name of a named template
    ModuleHandle module;      // dialogs: module the template came from
    bool modal;
    std::string className; // controls: "Button", "Static", "ComboBox", ...
    int id;                // controls: control id
    std::string text;
    uint32_t style;
    bool visible;
    bool destroyed;
    PlatformRect rect; // screen pixels
    std::vector<std::string> items;
    int selection; // combo box: -1 none
    int scrollMin, scrollMax, scrollPos;
    int selStart, selEnd; // edit: selection; the caret is at selEnd
    int zOrder;           // higher is nearer the top
    int updates;          // PlatformUpdateWindow calls
};

// Every window and control created since Reset, in creation order.
std::vector<WindowInfo> Windows();
std::optional<WindowInfo> Window(WindowHandle window);
// The newest live dialog of that template (number, or name), null when none.
WindowHandle FindDialog(int templateId);
WindowHandle FindDialog(const std::string& templateName);
WindowHandle Control(WindowHandle dialog, int id); // null when absent
std::string ControlText(WindowHandle dialog, int id);
bool IsControlVisible(WindowHandle dialog, int id);
std::vector<std::string> ComboItems(WindowHandle dialog, int id);
int ComboSelection(WindowHandle dialog, int id);
int ScrollPosition(WindowHandle dialog, int id);
std::pair<int, int> ScrollRange(WindowHandle dialog, int id);
std::pair<int, int> EditSelection(WindowHandle dialog, int id); // caret = second
WindowHandle Focus();
WindowHandle TopWindow(); // the live dialog highest in the window order

// Sends a message to the dialog's procedure and returns what it returned.
DialogResult SendToDialog(WindowHandle dialog, uint32_t message, WParam wParam, LParam lParam);
DialogResult SendCommand(WindowHandle dialog, int id, int notification = 0);
DialogResult PressButton(WindowHandle dialog, int id); // WM_COMMAND(id, BN_CLICKED)
// Picks a list item as the user does: selection, then CBN_SELCHANGE.
DialogResult SelectComboItem(WindowHandle dialog, int id, int index);
// WM_HSCROLL from the scroll bar control (lParam its window).
DialogResult Scroll(WindowHandle dialog, int id, int code, int position = 0);
DialogResult CloseDialog(WindowHandle dialog); // WM_CLOSE
// Types characters into an edit control as the user does: each character
// replaces the selection at the caret, then EN_CHANGE; '\b' deletes backwards.
void TypeText(WindowHandle dialog, int id, const std::string& characters);
// Selects a range of the edit control's text (as EM_SETSEL), no notification.
void SetEditSelection(WindowHandle dialog, int id, int start, int end);

// Runs inside PlatformDialogBox after WM_INITDIALOG, with the modal dialog, in
// place of the user; it may send messages and press buttons. The default hook
// presses IDOK. PlatformDialogBox returns what EndDialog gave; a dialog the
// hook left open would block Windows for ever, so that is recorded as an error
// and -1 is returned.
void OnDialogBox(std::function<void(WindowHandle dialog)> hook);

} // namespace host
