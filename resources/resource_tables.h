// The string table and dialog templates as data, for the host build. The
// same .inc files make the DLL's resource script.
#pragma once

#include <cstdint>

struct StringResource {
    int id;
    const char* text;
};

struct ControlTemplate {
    const char* text;
    int id;
    const char* className;
    uint32_t style;
    int x, y, width, height;
};

struct DialogTemplate {
    int id;           // 0 for a template named by text
    const char* name; // null for a numbered template
    uint32_t style;
    const char* caption; // null when the template has no caption
    int x, y, width, height;
    const ControlTemplate* controls;
    int controlCount;
};

extern const StringResource kStringTable[];
extern const int kStringTableSize;
extern const DialogTemplate kDialogTemplates[];
extern const int kDialogTemplateCount;

const char* FindResourceString(int id); // null when absent
// By number (name null) or by name.
const DialogTemplate* FindDialogTemplate(int id, const char* name);
