// Numbers of the string table entries and dialog templates. Shared by the
// resource script and the system's code.
#pragma once

// Dialog templates and their controls.
#define IDD_SETTINGS 700
#define IDD_SPLASH 730
#define IDD_ABOUT 731
#define IDD_SCANNING_NAME "SCANNING"

#define IDC_PAPER_LIST 701
#define IDC_SCANTYPE_LIST 702
#define IDC_RESOLUTION_LIST 703
#define IDC_DUPLEX_LIST 704
#define IDC_BRIGHTNESS_SCROLL 705
#define IDC_BRIGHTNESS_EDIT 706
#define IDC_HELP_BUTTON 710
#define IDC_ABOUT_BUTTON 711
#define IDC_SCAN_BUTTON 712
#define IDC_CLOSE_BUTTON 713
#define IDC_DUPLEX_LABEL 720
#define IDC_PRODUCT_TEXT 732
#define IDC_NOTICE_1 733
#define IDC_NOTICE_2 734
#define IDC_VERSION_TEXT 736
#define IDC_PROGRESS_TEXT 737

// Strings of the source's own module.
#define IDS_MANUFACTURER 0
#define IDS_PRODUCT_FAMILY 1
#define IDS_SECTION_NAME 2 // also the product name and every message-box caption
#define IDS_VERSION_INFO 3
#define IDS_PRODUCT_TEXT 6
#define IDS_PRODUCT_NAME_COMPANION 7
#define IDS_PRODUCT_TEXT_COMPANION 8
#define IDS_KEY_PAPER 70
#define IDS_KEY_SCAN_TYPE 71
#define IDS_KEY_RESOLUTION 72
#define IDS_KEY_DUPLEX 73
#define IDS_KEY_BRIGHTNESS 74
#define IDS_VERSION_SHORT 202
#define IDS_COMPANION_PATH 203
#define IDS_HELP_PATH 204
#define IDS_COMPANION_MARKER 206 // held by the companion library only
#define IDS_NOTICE_1 208
#define IDS_NOTICE_2 209

// Strings of the resource module (the companion library or the own module).
#define IDS_PAPER_FIRST 80 // 80 to 98, in paper order
#define IDS_SCAN_TYPE_FIRST 105
#define IDS_RESOLUTION_FIRST 107
#define IDS_DUPLEX_FIRST 110
#define IDS_PROGRESS_FLATBED 115
#define IDS_PROGRESS_ADF 116
#define IDS_PROGRESS_DUPLEX 117
#define IDS_READ_DATA_ERROR 120
#define IDS_SCANNER_NOT_READY 121
#define IDS_DOCUMENT_JAM 122
#define IDS_MACHINE_ERROR 125
#define IDS_SCANNER_BUSY 126
#define IDS_DISK_SPACE 213
#define IDS_DUPLEX_NO_PAPER 218
#define IDS_INVALID_VALUE 219

// Operation texts of the failure box; condition texts are 143 + code, or 159.
#define IDS_OP_IDENTITY 160
#define IDS_OP_USERINTERFACE 161
#define IDS_OP_ENABLEDS 163
#define IDS_OP_DISABLEDS 164
#define IDS_OP_OPENDS 165
#define IDS_OP_CLOSEDS 166
#define IDS_OP_CAPABILITY 167
#define IDS_OP_STATUS 168
#define IDS_OP_PENDINGXFERS 169
#define IDS_OP_SETUPMEMXFER 172
#define IDS_OP_SETUPFILEXFER 173
#define IDS_OP_XFERGROUP 174
#define IDS_OP_IMAGEINFO 182
#define IDS_OP_IMAGELAYOUT 183
#define IDS_OP_IMAGEMEMXFER 185
#define IDS_OP_IMAGENATIVEXFER 186
#define IDS_OP_IMAGEFILEXFER 187
#define IDS_CONDITION_BASE 143
#define IDS_CONDITION_UNKNOWN 159
