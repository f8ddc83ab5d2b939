// Win32 constants the system's code uses, with their published values. The
// real Win32 headers define the same names in the Win32 implementation; there
// these definitions step aside.
#pragma once

// Cursors (IDC_ARROW, IDC_WAIT), display capabilities.
constexpr int kCursorArrow = 32512;
constexpr int kCursorWait = 32514;

#ifndef GMEM_FIXED
#define GMEM_FIXED 0x0000u
#define GMEM_MOVEABLE 0x0002u
#define GMEM_ZEROINIT 0x0040u
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#endif

#ifndef GENERIC_READ
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_BEGIN 0u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#endif

#ifndef IOCTL_GET_DEVICE_DESCRIPTOR
#define IOCTL_GET_DEVICE_DESCRIPTOR 0x80002018u
#endif

#ifndef MB_OK
#define MB_OK 0x00000000u
#define MB_ICONHAND 0x00000010u
#define IDOK 1
#define IDCANCEL 2
#endif

#ifndef WM_INITDIALOG
#define WM_DESTROY 0x0002u
#define WM_CLOSE 0x0010u
#define WM_KEYDOWN 0x0100u
#define WM_CHAR 0x0102u
#define WM_INITDIALOG 0x0110u
#define WM_COMMAND 0x0111u
#define WM_HSCROLL 0x0114u
#define EM_SETSEL 0x00B1u
#define BM_CLICK 0x00F5u
#define CB_ADDSTRING 0x0143u
#define CB_GETCURSEL 0x0147u
#define CB_GETCOUNT 0x0146u
#define CB_RESETCONTENT 0x014Bu
#define CB_SETCURSEL 0x014Eu
#define CBN_SELCHANGE 1
#define EN_CHANGE 0x0300
#define SB_LINELEFT 0
#define SB_LINERIGHT 1
#define SB_PAGELEFT 2
#define SB_PAGERIGHT 3
#define SB_THUMBPOSITION 4
#define SB_THUMBTRACK 5
#define SB_LEFT 6
#define SB_RIGHT 7
#define SB_ENDSCROLL 8
#define SB_CTL 2
#define SW_HIDE 0
#define SW_SHOW 5
#define HORZRES 8
#define VERTRES 10
#endif

#ifndef HH_DISPLAY_TOPIC
#define HH_DISPLAY_TOPIC 0x0000u
#endif
