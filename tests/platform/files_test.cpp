// The host's files, folders, INI files, temporary names and disks behave as
// the Win32 calls the system relies on, and their faults can be staged.
#include <cstring>

#include "support/source_fixture.h"

namespace {

class HostFilesTest : public UnloadedSourceTest {
  protected:
    FileHandle Create(const char* name, uint32_t disposition = CREATE_ALWAYS) {
        return PlatformCreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, disposition,
                                  FILE_ATTRIBUTE_ARCHIVE);
    }
    bool Write(FileHandle file, const std::string& bytes, uint32_t* written) {
        return PlatformWriteFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), written);
    }
};

TEST_F(HostFilesTest, WindowsNamesLandInTheScratchDirectory) {
    FileHandle file = Create("C:\\TEMP\\Page.bmp");
    ASSERT_NE(file, kInvalidFile);
    uint32_t written = 0;
    EXPECT_TRUE(Write(file, "BM", &written));
    EXPECT_EQ(written, 2u);
    EXPECT_TRUE(PlatformCloseHandle(file));
    EXPECT_EQ(host::HostPath("C:\\TEMP\\Page.bmp"), host::ScratchDirectory() + "/C/TEMP/Page.bmp");
    // Names compare without case, as on Windows.
    EXPECT_EQ(host::ReadFileText("c:\\temp\\PAGE.BMP"), "BM");
    // A name without a folder is made in the current directory.
    file = Create("TWAIN.TMP");
    ASSERT_NE(file, kInvalidFile);
    PlatformCloseHandle(file);
    EXPECT_TRUE(host::FileExists("C:\\cwd\\TWAIN.TMP"));
    EXPECT_EQ(host::HostPath("\\\\server\\share\\x.ini"),
              host::ScratchDirectory() + "/UNC/server/share/x.ini");
}

TEST_F(HostFilesTest, OpenRulesFollowWindows) {
    // No folder, no file; a folder is no file; an existence probe needs no rights.
    EXPECT_EQ(Create("C:\\NoSuchFolder\\a.bmp"), kInvalidFile);
    EXPECT_EQ(Create("C:\\TEMP"), kInvalidFile);
    EXPECT_EQ(PlatformCreateFile("C:\\TEMP\\absent", 0, 0, OPEN_EXISTING, 0), kInvalidFile);
    host::WriteFileText("C:\\TEMP\\present", "x");
    FileHandle probe = PlatformCreateFile("C:\\TEMP\\present", 0, 0, OPEN_EXISTING, 0);
    ASSERT_NE(probe, kInvalidFile);
    // A file opened without sharing cannot be opened for writing again, nor deleted.
    FileHandle owner = Create("C:\\TEMP\\present", OPEN_EXISTING);
    ASSERT_NE(owner, kInvalidFile);
    EXPECT_EQ(Create("C:\\TEMP\\present", OPEN_EXISTING), kInvalidFile);
    EXPECT_FALSE(PlatformDeleteFile("C:\\TEMP\\present"));
    PlatformCloseHandle(owner);
    PlatformCloseHandle(probe);
    EXPECT_TRUE(PlatformDeleteFile("C:\\TEMP\\present"));
    EXPECT_FALSE(host::FileExists("C:\\TEMP\\present"));
    // CREATE_ALWAYS replaces an existing file.
    host::WriteFileText("C:\\TEMP\\old", "old contents");
    FileHandle replaced = Create("C:\\TEMP\\old");
    PlatformCloseHandle(replaced);
    EXPECT_EQ(host::ReadFileText("C:\\TEMP\\old"), "");
    host::FailCreateFile("C:\\TEMP\\refused.bmp");
    EXPECT_EQ(Create("C:\\TEMP\\refused.bmp"), kInvalidFile);
}

TEST_F(HostFilesTest, WritesPastTheEndExtendTheFileAndReadsComeBack) {
    FileHandle file = Create("C:\\TEMP\\rows.bin");
    EXPECT_EQ(PlatformSetFilePointer(file, 8, FILE_BEGIN), 8u);
    uint32_t count = 0;
    EXPECT_TRUE(Write(file, "end", &count));
    EXPECT_EQ(PlatformSetFilePointer(file, 0, FILE_BEGIN), 0u);
    EXPECT_TRUE(Write(file, "top", &count));
    PlatformSetFilePointer(file, 0, FILE_BEGIN);
    char buffer[16] = {};
    EXPECT_TRUE(PlatformReadFile(file, buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 11u);
    EXPECT_EQ(std::string(buffer, 11), std::string("top\0\0\0\0\0end", 11));
    host::LimitFilePointer(4);
    EXPECT_EQ(PlatformSetFilePointer(file, 8, FILE_BEGIN), 4u); // falls short
    PlatformCloseHandle(file);
}

TEST_F(HostFilesTest, DiskFullFailsTheWriteThatCrossesTheLimit) {
    FileHandle file = Create("C:\\TEMP\\full.bin");
    host::FailFileWritesAfter(10);
    uint32_t written = 0;
    EXPECT_TRUE(Write(file, "12345678", &written));
    EXPECT_EQ(written, 8u);
    EXPECT_FALSE(Write(file, "abcdefgh", &written));
    EXPECT_EQ(written, 2u);
    EXPECT_FALSE(Write(file, "x", &written));
    EXPECT_EQ(written, 0u);
    PlatformCloseHandle(file);
    EXPECT_EQ(host::ReadFileText("C:\\TEMP\\full.bin"), "12345678ab");
}

TEST_F(HostFilesTest, HandleMisuseAndLeaksAreReported) {
    checkAtTearDown = false;
    FileHandle file = Create("C:\\TEMP\\a");
    EXPECT_EQ(host::OpenFileHandleCount(), 1);
    std::vector<std::string> problems = host::TearDownProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("left open"), std::string::npos);
    PlatformCloseHandle(file);
    EXPECT_FALSE(PlatformCloseHandle(file));
    uint32_t count = 7;
    EXPECT_FALSE(PlatformWriteFile(file, "x", 1, &count));
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(host::Errors().size(), 2u);
    EXPECT_NE(host::Errors()[0].find("closed before"), std::string::npos);
    // The not-open mark fails quietly: the channel relies on that.
    host::ClearErrors();
    EXPECT_FALSE(PlatformWriteFile(kInvalidFile, "x", 1, &count));
    EXPECT_FALSE(PlatformReadFile(kInvalidFile, &count, 1, &count));
    EXPECT_TRUE(host::Errors().empty());
    // Closing it is not something the system does.
    PlatformCloseHandle(kInvalidFile);
    EXPECT_EQ(host::Errors().size(), 1u);
}

TEST_F(HostFilesTest, UsbscanNamesGoToTheScannerBusNotToFiles) {
    for (const char* name : {"\\\\.\\Usbscan0\\0", "\\\\.\\USBSCAN14\\3"}) {
        FileHandle device = PlatformCreateFile(name, GENERIC_READ | GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_SYSTEM);
        EXPECT_EQ(device, kInvalidFile) << name; // no scanner plugged in
        ASSERT_FALSE(host::DeviceOpens().empty());
        EXPECT_EQ(host::DeviceOpens().back().name, name);
    }
    EXPECT_EQ(host::DeviceOpens().size(), 2u);
    EXPECT_FALSE(host::DirectoryExists("\\\\.\\Usbscan0"));
    EXPECT_EQ(host::OpenDeviceHandleCount(), 0);
    EXPECT_EQ(host::OpenFileHandleCount(), 0);
}

TEST_F(HostFilesTest, DirectoriesAndTemporaryNames) {
    char buffer[128];
    EXPECT_EQ(PlatformGetWindowsDirectory(buffer, sizeof buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    EXPECT_EQ(PlatformGetTempPath(4, buffer), 9u); // too small: the size needed
    EXPECT_EQ(PlatformGetTempPath(sizeof buffer, buffer), 8u);
    EXPECT_STREQ(buffer, "C:\\TEMP\\");

    host::SetTempPath("D:\\TMP\\");
    char name[260];
    EXPECT_EQ(PlatformGetTempFileName("D:\\TMP\\", "QMX", 0, name), 1u);
    EXPECT_STREQ(name, "D:\\TMP\\QMX0001.TMP");
    EXPECT_TRUE(host::FileExists(name));
    EXPECT_EQ(PlatformGetTempFileName("D:\\TMP", "QMX", 0, name), 2u); // separator added
    EXPECT_STREQ(name, "D:\\TMP\\QMX0002.TMP");
    EXPECT_EQ(PlatformGetTempFileName("E:\\missing\\", "QMX", 0, name), 0u);
    ASSERT_EQ(host::TempFileNameCalls().size(), 3u);
    EXPECT_EQ(host::TempFileNameCalls()[0].prefix, "QMX");
}

TEST_F(HostFilesTest, DiskFreeSpaceIsSetPerRootAndRecorded) {
    host::SetDiskFreeSpace("d:\\", {4, 1024, 10, 20});
    uint32_t spc = 0, bps = 0, free = 0, total = 0;
    EXPECT_TRUE(PlatformGetDiskFreeSpace("D:\\", &spc, &bps, &free, &total));
    EXPECT_EQ(spc * bps * free, 40960u);
    EXPECT_TRUE(PlatformGetDiskFreeSpace("C:\\", &spc, &bps, &free, &total));
    EXPECT_EQ(bps, 512u);
    EXPECT_FALSE(PlatformGetDiskFreeSpace("\\\\server\\share\\", &spc, &bps, &free, &total));
    host::FailDiskFreeSpace("C:\\");
    EXPECT_FALSE(PlatformGetDiskFreeSpace("C:\\", &spc, &bps, &free, &total));
    EXPECT_EQ(host::DiskFreeSpaceCalls(),
              std::vector<std::string>({"D:\\", "C:\\", "\\\\server\\share\\", "C:\\"}));
}

struct IniCase {
    const char* file;
    const char* key;
    int32_t fallback;
    int32_t expected;
};

TEST_F(HostFilesTest, PrivateProfileIntReadsAsWin32Does) {
    const IniCase cases[] = {
        {"[Scan]\r\nBrightness=-3\r\n", "Brightness", 9, -3},
        {"[Scan]\nbrightness = 4\n", "BRIGHTNESS", 9, 4},     // key case, blanks
        {"[ scan ]\nBrightness=  7  \n", "Brightness", 9, 7}, // section case, blanks
        {"[Scan]\nBrightness=abc\n", "Brightness", 9, 0},     // not a number
        {"[Scan]\nBrightness=12abc\n", "Brightness", 9, 12},
        {"[Scan]\nBrightness=+5\n", "Brightness", 9, 5},
        {"[Scan]\nBrightness=\n", "Brightness", 9, 9}, // empty: the fallback
        {"[Scan]\nOther=1\n", "Brightness", 9, 9},
        {"[Other]\nBrightness=1\n[Scan]\nBrightness=2\nBrightness=3\n", "Brightness", 9, 2},
    };
    for (const IniCase& c : cases) {
        host::WriteFileText("C:\\TEMP\\case.ini", c.file);
        EXPECT_EQ(static_cast<int32_t>(PlatformGetPrivateProfileInt("Scan", c.key, c.fallback,
                                                                    "C:\\TEMP\\case.ini")),
                  c.expected)
            << c.file;
    }
    EXPECT_EQ(PlatformGetPrivateProfileInt("Scan", "Brightness", 2, "C:\\TEMP\\none.ini"), 2u);
}

TEST_F(HostFilesTest, WritePrivateProfileStringKeepsTheRestOfTheFile) {
    const char* path = "C:\\TEMP\\UAXXXX.ini";
    EXPECT_TRUE(PlatformWritePrivateProfileString("Scan", "Paper Size", "2", path));
    EXPECT_EQ(host::ReadFileText(path), "[Scan]\r\nPaper Size=2\r\n");
    host::WriteFileText(path, "[Other]\r\nKeep=1\r\n\r\n[Scan]\r\nPaper Size=5\r\nMine=x\r\n");
    EXPECT_TRUE(PlatformWritePrivateProfileString("scan", "paper size", "18", path));
    EXPECT_TRUE(PlatformWritePrivateProfileString("Scan", "Brightness", "-4", path));
    EXPECT_TRUE(PlatformWritePrivateProfileString("New", "Key", "v", path));
    EXPECT_EQ(host::IniValue(path, "Other", "Keep"), "1");
    EXPECT_EQ(host::IniValue(path, "Scan", "Paper Size"), "18");
    EXPECT_EQ(host::IniValue(path, "Scan", "Mine"), "x");
    EXPECT_EQ(host::IniValue(path, "Scan", "Brightness"), "-4");
    EXPECT_EQ(host::IniValue(path, "New", "Key"), "v");
    EXPECT_EQ(static_cast<int32_t>(PlatformGetPrivateProfileInt("Scan", "Brightness", 0, path)),
              -4);
    EXPECT_FALSE(PlatformWritePrivateProfileString("Scan", "Key", "1", "C:\\Missing\\a.ini"));

    // A header with a NUL in it names another section, before and after a write.
    host::WriteFileText(path, std::string("[Scan\0]\r\nPaper Size=x\r\n", 23));
    EXPECT_TRUE(PlatformWritePrivateProfileString("Scan", "Paper Size", "2", path));
    EXPECT_EQ(host::IniValue(path, "Scan", "Paper Size"), "2");
    EXPECT_EQ(host::ReadFileText(path),
              std::string("[Scan\0]\r\nPaper Size=x\r\n\r\n[Scan]\r\nPaper Size=2\r\n", 47));
}

} // namespace
