// Capability containers as an application builds and reads them: global
// memory in the standard's two-byte packing, read only within the block's
// size whatever its header claims.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "twain/twain.h"
#include "twain_app_log.h"
#include "twain_app_options.h"

namespace twain_app {

inline size_t ItemSize(TW_UINT16 type) {
    switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_FRAME:
        return 16;
    case TWTY_STR32:
        return 34;
    case TWTY_STR64:
        return 66;
    case TWTY_STR128:
        return 130;
    case TWTY_STR255:
        return 256;
    default:
        return 0;
    }
}

// Encodes one item as written ("300", "-2.5", "TRUE", "1,1,8.5,11", a text).
inline bool EncodeItem(TW_UINT16 type, const std::string& text, std::vector<uint8_t>* bytes) {
    size_t size = ItemSize(type);
    if (size == 0) {
        return false;
    }
    bytes->assign(size, 0);
    if (type == TWTY_FIX32) {
        double number = 0;
        if (!ParseDouble(text, &number))
            return false;
        TW_FIX32 value = Fix32From(number);
        memcpy(bytes->data(), &value, 4);
        return true;
    }
    if (type == TWTY_FRAME) {
        std::vector<std::string> sides = Split(text, ',');
        if (sides.size() != 4)
            return false;
        for (int side = 0; side < 4; ++side) {
            double number = 0;
            if (!ParseDouble(sides[side], &number))
                return false;
            TW_FIX32 value = Fix32From(number);
            memcpy(bytes->data() + 4 * side, &value, 4);
        }
        return true;
    }
    if (type >= TWTY_STR32) {
        memcpy(bytes->data(), text.data(), text.size() < size - 1 ? text.size() : size - 1);
        return true;
    }
    long number = 0;
    if (type == TWTY_BOOL && (_stricmp(text.c_str(), "true") == 0)) {
        number = 1;
    } else if (type == TWTY_BOOL && (_stricmp(text.c_str(), "false") == 0)) {
        number = 0;
    } else if (!ParseLong(text, &number)) {
        return false;
    }
    uint32_t word = static_cast<uint32_t>(number);
    memcpy(bytes->data(), &word, size);
    return true;
}

inline std::string DescribeItem(TW_UINT16 type, const uint8_t* item) {
    switch (type) {
    case TWTY_INT8:
        return std::to_string(static_cast<int8_t>(item[0]));
    case TWTY_UINT8:
        return std::to_string(item[0]);
    case TWTY_INT16: {
        int16_t value;
        memcpy(&value, item, 2);
        return std::to_string(value);
    }
    case TWTY_UINT16:
    case TWTY_BOOL: {
        uint16_t value;
        memcpy(&value, item, 2);
        return std::to_string(value);
    }
    case TWTY_INT32: {
        int32_t value;
        memcpy(&value, item, 4);
        return std::to_string(value);
    }
    case TWTY_UINT32: {
        uint32_t value;
        memcpy(&value, item, 4);
        return std::to_string(value);
    }
    case TWTY_FIX32: {
        TW_FIX32 value;
        memcpy(&value, item, 4);
        return Fix32Text(value);
    }
    case TWTY_FRAME: {
        std::string text;
        for (int side = 0; side < 4; ++side) {
            TW_FIX32 value;
            memcpy(&value, item + 4 * side, 4);
            text += side ? "," : "";
            text += Fix32Text(value);
        }
        return text;
    }
    default: {
        size_t size = ItemSize(type);
        size_t length = strnlen(reinterpret_cast<const char*>(item), size);
        return Quote(std::string(reinterpret_cast<const char*>(item), length));
    }
    }
}

// Builds the container of a MSG_SET in a movable block the application owns.
// Returns 0 and an explanation when the value cannot be encoded.
inline HGLOBAL BuildContainer(const SourceRequest& request, TW_UINT16* conType,
                              std::string* error) {
    const std::string& value = request.value;
    TW_UINT16 type = request.itemType;
    size_t itemSize = ItemSize(type);
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> block;
    auto put16 = [&](size_t at, uint16_t v) { memcpy(block.data() + at, &v, 2); };
    auto put32 = [&](size_t at, uint32_t v) { memcpy(block.data() + at, &v, 4); };
    if (itemSize == 0) {
        *error = "item type has no size";
        return nullptr;
    }
    if (value.rfind("enum:", 0) == 0 || value.rfind("array:", 0) == 0) {
        bool isEnum = value[0] == 'e';
        std::string list = value.substr(isEnum ? 5 : 6);
        long current = 0;
        long fallback = 0;
        if (isEnum) {
            std::vector<std::string> parts = Split(list, '@');
            list = parts[0];
            if ((parts.size() > 1 && !ParseLong(parts[1], &current)) ||
                (parts.size() > 2 && !ParseLong(parts[2], &fallback)) || parts.size() > 3) {
                *error = "enum:a,b,..[@current[@default]]";
                return nullptr;
            }
        }
        std::vector<std::string> items =
            list.empty() ? std::vector<std::string>{} : Split(list, type == TWTY_FRAME ? ';' : ',');
        size_t header = isEnum ? 14 : 6;
        block.assign(header + items.size() * itemSize, 0);
        put16(0, type);
        put32(2, static_cast<uint32_t>(items.size()));
        if (isEnum) {
            put32(6, static_cast<uint32_t>(current));
            put32(10, static_cast<uint32_t>(fallback));
        }
        for (size_t i = 0; i < items.size(); ++i) {
            if (!EncodeItem(type, items[i], &bytes)) {
                *error = "cannot encode item " + items[i];
                return nullptr;
            }
            memcpy(block.data() + header + i * itemSize, bytes.data(), itemSize);
        }
        *conType = isEnum ? TWON_ENUMERATION : TWON_ARRAY;
    } else if (value.rfind("range:", 0) == 0) {
        std::vector<std::string> parts = Split(value.substr(6), ',');
        if (parts.size() != 5 || itemSize > 4) {
            *error = "range:min,max,step,default,current of a numeric type";
            return nullptr;
        }
        block.assign(22, 0);
        put16(0, type);
        for (size_t i = 0; i < 5; ++i) {
            if (!EncodeItem(type, parts[i], &bytes)) {
                *error = "cannot encode " + parts[i];
                return nullptr;
            }
            memcpy(block.data() + 2 + 4 * i, bytes.data(), itemSize);
        }
        *conType = TWON_RANGE;
    } else {
        if (!EncodeItem(type, value, &bytes)) {
            *error = "cannot encode " + value;
            return nullptr;
        }
        block.assign(2 + (itemSize > 4 ? itemSize : 4), 0);
        put16(0, type);
        memcpy(block.data() + 2, bytes.data(), itemSize);
        *conType = TWON_ONEVALUE;
    }
    HGLOBAL handle = GlobalAlloc(GHND, block.size());
    if (handle == nullptr) {
        *error = "GlobalAlloc failed";
        return nullptr;
    }
    void* memory = GlobalLock(handle);
    if (memory == nullptr) {
        GlobalFree(handle);
        *error = "GlobalLock failed";
        return nullptr;
    }
    memcpy(memory, block.data(), block.size());
    GlobalUnlock(handle);
    return handle;
}

// Adds the fields that describe a container the source returned.
inline void DescribeContainer(Line& line, TW_UINT16 conType, HGLOBAL handle) {
    line.Raw("container", NameOf(kContainerNames, conType, "TWON_"));
    line.Raw("handle", HexPtr(handle));
    if (handle == nullptr) {
        return;
    }
    SIZE_T size = GlobalSize(handle);
    const uint8_t* memory = static_cast<const uint8_t*>(GlobalLock(handle));
    line.Int("size", static_cast<long long>(size));
    if (memory == nullptr || size < 2) {
        line.Raw("error", "unreadable");
        if (memory != nullptr)
            GlobalUnlock(handle);
        return;
    }
    auto get32 = [&](size_t at) {
        uint32_t v = 0;
        if (at + 4 <= size)
            memcpy(&v, memory + at, 4);
        return v;
    };
    uint16_t type = 0;
    memcpy(&type, memory, 2);
    size_t itemSize = ItemSize(type);
    line.Raw("type", NameOf(kItemTypeNames, type, "TWTY_"));
    auto items = [&](size_t first, uint32_t count) {
        std::string text;
        uint32_t shown = 0;
        for (; shown < count && itemSize != 0 && first + (shown + 1) * itemSize <= size; ++shown) {
            text += shown ? "," : "";
            text += DescribeItem(type, memory + first + shown * itemSize);
        }
        line.Raw("items", text.empty() ? "-" : text);
        if (shown < count) {
            line.Raw("error", "items-beyond-block");
        }
    };
    switch (conType) {
    case TWON_ONEVALUE:
        if (itemSize != 0 && 2 + itemSize <= size) {
            line.Raw("value", DescribeItem(type, memory + 2));
        } else {
            line.Raw("error", "short-block");
        }
        break;
    case TWON_ENUMERATION: {
        uint32_t count = get32(2);
        line.Int("count", count).Int("current", get32(6)).Int("default", get32(10));
        if (count < 100000) {
            items(14, count);
        }
        if (count != 0 && get32(6) < count && itemSize != 0 &&
            14 + (get32(6) + 1) * itemSize <= size) {
            line.Raw("current_value", DescribeItem(type, memory + 14 + get32(6) * itemSize));
        }
        break;
    }
    case TWON_ARRAY: {
        uint32_t count = get32(2);
        line.Int("count", count);
        if (count < 100000) {
            items(6, count);
        }
        break;
    }
    case TWON_RANGE: {
        const char* names[] = {"min", "max", "step", "default", "current"};
        for (size_t i = 0; i < 5; ++i) {
            if (2 + 4 * (i + 1) <= size && itemSize != 0 && itemSize <= 4) {
                line.Raw(names[i], DescribeItem(type, memory + 2 + 4 * i));
            }
        }
        break;
    }
    default:
        break;
    }
    GlobalUnlock(handle);
}

} // namespace twain_app
