#include "resources/resource_tables.h"

#include <cstring>

#include "resources/dialog_styles.h"

#define RESOURCE_STRING(id, text) {id, text},
const StringResource kStringTable[] = {
#include "resources/strings.inc"
};
#undef RESOURCE_STRING
const int kStringTableSize = sizeof(kStringTable) / sizeof(kStringTable[0]);

// Each template's controls as one array, then the template list.
#define DIALOG_BEGIN(id, x, y, w, h, style, caption) static const ControlTemplate kControls##id[] = {
#define DIALOG_BEGIN_NAMED(name, x, y, w, h, style) static const ControlTemplate kControls##name[] = {
#define DIALOG_CONTROL(text, id, cls, style, x, y, w, h) {text, id, cls, style, x, y, w, h},
#define DIALOG_END() };
#include "resources/dialogs.inc"
#undef DIALOG_BEGIN
#undef DIALOG_BEGIN_NAMED
#undef DIALOG_CONTROL
#undef DIALOG_END

#define DIALOG_BEGIN(id, x, y, w, h, style, caption)                                              \
    {id, nullptr, style, caption, x, y, w, h, kControls##id,                                      \
     static_cast<int>(sizeof(kControls##id) / sizeof(ControlTemplate))},
#define DIALOG_BEGIN_NAMED(name, x, y, w, h, style)                                               \
    {0, #name, style, nullptr, x, y, w, h, kControls##name,                                      \
     static_cast<int>(sizeof(kControls##name) / sizeof(ControlTemplate))},
#define DIALOG_CONTROL(text, id, cls, style, x, y, w, h)
#define DIALOG_END()
const DialogTemplate kDialogTemplates[] = {
#include "resources/dialogs.inc"
};
const int kDialogTemplateCount = sizeof(kDialogTemplates) / sizeof(kDialogTemplates[0]);

const char* FindResourceString(int id) {
    for (const StringResource& entry : kStringTable) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(int id, const char* name) {
    for (const DialogTemplate& dialog : kDialogTemplates) {
        if (name != nullptr ? (dialog.name != nullptr && std::strcmp(dialog.name, name) == 0)
                            : (dialog.name == nullptr && dialog.id == id)) {
            return &dialog;
        }
    }
    return nullptr;
}
