/* Window and control styles of the dialog templates, with their published
   values, for the host build; the resource compiler takes them from the
   Windows headers. */
#pragma once

#ifndef WS_POPUP
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_VSCROLL 0x00200000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define DS_SETFONT 0x00000040u
#define DS_MODALFRAME 0x00000080u
#define SS_LEFT 0x00000000u
#define SS_CENTER 0x00000001u
#define BS_PUSHBUTTON 0x00000000u
#define BS_DEFPUSHBUTTON 0x00000001u
#define BS_GROUPBOX 0x00000007u
#define CBS_DROPDOWNLIST 0x00000003u
#define SBS_HORZ 0x00000000u
#define ES_LEFT 0x00000000u
#endif
