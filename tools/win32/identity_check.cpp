// Loads Tq3480P.ds as a Source Manager does, asks for its identity with a null
// origin (as Wine's Source Manager does) and for its status, and prints both
// answers one field a line, for the checks under Wine.
// Usage: identity_check.exe [path of Tq3480P.ds]
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "twain/twain.h"

namespace {

using DsEntryProc = TW_UINT16(TW_CALLINGCONV*)(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16,
                                               TW_MEMREF);

// A text field up to its NUL, at most the 34 bytes it has.
void PrintText(const char* name, const char* field) {
    std::printf("%s=[%.*s]\n", name, static_cast<int>(strnlen(field, sizeof(TW_STR32))), field);
}

} // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "Tq3480P.ds";
    HMODULE source = LoadLibraryA(path);
    if (source == nullptr) {
        std::printf("load failed: error %lu\n", GetLastError());
        return 1;
    }
    auto entry =
        reinterpret_cast<DsEntryProc>(reinterpret_cast<void*>(GetProcAddress(source, "DS_Entry")));
    if (entry == nullptr) {
        std::printf("no DS_Entry export\n");
        FreeLibrary(source);
        return 1;
    }

    // Filled with a pattern, so that a field the source leaves alone shows.
    TW_IDENTITY identity;
    std::memset(&identity, 0xA5, sizeof identity);
    TW_UINT16 rc = entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity);
    std::printf("identity.rc=%u\n", rc);
    std::printf("Id=%lu\n", static_cast<unsigned long>(identity.Id));
    std::printf("Version=%u.%u\n", identity.Version.MajorNum, identity.Version.MinorNum);
    std::printf("Language=%u\n", identity.Version.Language);
    std::printf("Country=%u\n", identity.Version.Country);
    PrintText("Info", identity.Version.Info);
    std::printf("Protocol=%u.%u\n", identity.ProtocolMajor, identity.ProtocolMinor);
    std::printf("SupportedGroups=%lu\n", static_cast<unsigned long>(identity.SupportedGroups));
    PrintText("Manufacturer", identity.Manufacturer);
    PrintText("ProductFamily", identity.ProductFamily);
    PrintText("ProductName", identity.ProductName);

    TW_STATUS status;
    std::memset(&status, 0xA5, sizeof status);
    rc = entry(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    std::printf("status.rc=%u\n", rc);
    std::printf("ConditionCode=%u\n", status.ConditionCode);
    std::printf("Reserved=%u\n", status.Reserved);

    FreeLibrary(source);
    return 0;
}
