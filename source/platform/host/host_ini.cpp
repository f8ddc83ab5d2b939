// Private profile (INI) files on the host, read and written with the rules of
// the Win32 calls: section and key names compare without case, the first
// matching key wins, other sections and keys stay as they are.
#include <cctype>
#include <cstdio>

#include "platform/host/host_state.h"

namespace host::detail {

namespace {

std::string Trim(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) {
        ++first;
    }
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) {
        --last;
    }
    return text.substr(first, last - first);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        if (line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// The section a line opens, or nullopt when it opens none.
std::optional<std::string> SectionOf(const std::string& line) {
    std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] != '[') {
        return std::nullopt;
    }
    size_t close = trimmed.find(']');
    return Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

bool KeyOf(const std::string& line, std::string* key, std::string* value) {
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    *key = Trim(line.substr(0, equals));
    *value = Trim(line.substr(equals + 1));
    if (value->size() >= 2 && (value->front() == '"' || value->front() == '\'') &&
        value->back() == value->front()) {
        *value = value->substr(1, value->size() - 2);
    }
    return true;
}

// A bare file name is looked for in the Windows directory, as the Win32 calls do.
std::string ProfilePath(const std::string& file) {
    if (file.find_first_of("\\/:") == std::string::npos) {
        return S().files.windowsDirectory + "\\" + file;
    }
    return file;
}

std::optional<std::string> Lookup(const std::string& file, const std::string& section,
                                  const std::string& key) {
    std::optional<std::string> text = host::ReadFileText(ProfilePath(file));
    if (!text) {
        return std::nullopt;
    }
    bool inSection = false;
    for (const std::string& line : Lines(*text)) {
        if (std::optional<std::string> opened = SectionOf(line)) {
            inSection = EqualsNoCase(*opened, section);
            continue;
        }
        std::string name;
        std::string value;
        if (inSection && KeyOf(line, &name, &value) && EqualsNoCase(name, key)) {
            return value;
        }
    }
    return std::nullopt;
}

// As the Win32 call reads a number: blanks, an optional sign, decimal digits;
// anything else ends the number, and text without digits reads 0.
uint32_t ParseNumber(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    uint32_t value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        value = value * 10u + static_cast<uint32_t>(text[at] - '0');
        ++at;
    }
    return negative ? 0u - value : value;
}

} // namespace

} // namespace host::detail

using namespace host::detail;

uint32_t PlatformGetPrivateProfileInt(const char* section, const char* key, int32_t fallback,
                                      const char* file) {
    S();
    if (section == nullptr || key == nullptr || file == nullptr) {
        return static_cast<uint32_t>(fallback);
    }
    std::optional<std::string> value = Lookup(file, section, key);
    if (!value || value->empty()) {
        return static_cast<uint32_t>(fallback);
    }
    return ParseNumber(*value);
}

bool PlatformWritePrivateProfileString(const char* section, const char* key, const char* value,
                                       const char* file) {
    S();
    if (section == nullptr || file == nullptr) {
        return false;
    }
    std::string path = ProfilePath(file);
    std::string hostPath = host::HostPath(path);
    if (hostPath.empty()) {
        return false;
    }
    std::optional<std::string> text = host::ReadFileText(path);
    std::vector<std::string> lines = text ? Lines(*text) : std::vector<std::string>();

    // The section's header line and the end of its lines.
    size_t header = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::optional<std::string> opened = SectionOf(lines[i]);
        if (opened && EqualsNoCase(*opened, section)) {
            header = i;
            break;
        }
    }
    size_t end = header;
    if (header < lines.size()) {
        end = header + 1;
        while (end < lines.size() && !SectionOf(lines[end])) {
            ++end;
        }
    }

    if (key == nullptr) {
        if (header < lines.size()) {
            lines.erase(lines.begin() + static_cast<long>(header),
                        lines.begin() + static_cast<long>(end));
        }
    } else {
        size_t found = lines.size();
        for (size_t i = header + 1; i < end; ++i) {
            std::string name;
            std::string old;
            if (KeyOf(lines[i], &name, &old) && EqualsNoCase(name, key)) {
                found = i;
                break;
            }
        }
        std::string entry = std::string(key) + "=" + (value != nullptr ? value : "");
        if (found < lines.size()) {
            if (value == nullptr) {
                lines.erase(lines.begin() + static_cast<long>(found));
            } else {
                lines[found] = entry;
            }
        } else if (value != nullptr) {
            if (header < lines.size()) {
                size_t last = end;
                while (last > header + 1 && Trim(lines[last - 1]).empty()) {
                    --last;
                }
                lines.insert(lines.begin() + static_cast<long>(last), entry);
            } else {
                if (!lines.empty() && !Trim(lines.back()).empty()) {
                    lines.push_back("");
                }
                lines.push_back("[" + std::string(section) + "]");
                lines.push_back(entry);
            }
        }
    }

    FILE* stream = std::fopen(hostPath.c_str(), "wb");
    if (stream == nullptr) {
        return false; // the folder does not exist
    }
    // Lines go back byte for byte, a NUL inside one included: what the next
    // read finds is what this one parsed.
    for (const std::string& line : lines) {
        std::fwrite(line.data(), 1, line.size(), stream);
        std::fputs("\r\n", stream);
    }
    std::fclose(stream);
    return true;
}

namespace host {

std::optional<std::string> IniValue(const std::string& windowsPath, const std::string& section,
                                    const std::string& key) {
    return Lookup(windowsPath, section, key);
}

} // namespace host
