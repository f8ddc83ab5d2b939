// The five scan settings and their INI file in the user's temporary directory.
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "support/source_fixture.h"
#include "twain/startup.h"
#include "ui/settings.h"

namespace {

constexpr const char* kSection = "Velmora Oskaro Tq3480 PCL";
constexpr const char* kSettingsFile = "C:\\TEMP\\UAXXXX.ini";

struct Values {
    int32_t paper, scanType, resolution, duplex, brightness;
    bool operator==(const Values&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Values& v) {
    return out << "{paper " << v.paper << ", scan type " << v.scanType << ", resolution "
               << v.resolution << ", duplex " << v.duplex << ", brightness " << v.brightness << "}";
}

Values Current() {
    return {ScanSettings.PaperIndex, ScanSettings.ScanType, ScanSettings.ResolutionIndex,
            ScanSettings.Duplex, ScanSettings.Brightness};
}

constexpr Values kDefaults{2, 0, 1, 0, 0};

class SettingsTest : public SourceTest {
  protected:
    void WriteSettingsFile(const std::string& lines, const char* path = kSettingsFile) {
        host::WriteFileText(path, std::string("[") + kSection + "]\r\n" + lines);
    }
    std::optional<std::string> Stored(const char* key, const char* path = kSettingsFile) {
        return host::IniValue(path, kSection, key);
    }
};

TEST_F(SettingsTest, AllZeroUntilTheFirstLoad) {
    EXPECT_EQ(Current(), (Values{0, 0, 0, 0, 0}));
}

TEST_F(SettingsTest, MissingFileGivesDefaultsAndTheSaveCreatesIt) {
    LoadScanSettings();
    EXPECT_EQ(Current(), kDefaults);
    EXPECT_FALSE(host::FileExists(kSettingsFile)) << "a load writes nothing";

    SaveScanSettings();
    EXPECT_EQ(Stored("Paper Size"), "2");
    EXPECT_EQ(Stored("Scan Type"), "0");
    EXPECT_EQ(Stored("Resolution"), "1");
    EXPECT_EQ(Stored("Duplex Scanning"), "0");
    EXPECT_EQ(Stored("Brightness"), "0");
}

TEST_F(SettingsTest, SavedValuesLoadAgain) {
    ScanSettings = ScanSettingsRecord{18, 1, 2, 1, -4};
    SaveScanSettings();
    EXPECT_EQ(Stored("Brightness"), "-4");
    ScanSettings = ScanSettingsRecord{};
    LoadScanSettings();
    EXPECT_EQ(Current(), (Values{18, 1, 2, 1, -4}));
}

TEST_F(SettingsTest, OnlyOneKeyPresentGivesDefaultsForTheOthers) {
    WriteSettingsFile("Duplex Scanning=1\r\n");
    LoadScanSettings();
    EXPECT_EQ(Current(), (Values{2, 0, 1, 1, 0}));
}

// A value outside its range becomes that setting's default.
struct RangeCase {
    const char* key;
    const char* text;
    int32_t Values::*field;
    int32_t expected;
};

class RangeCorrectionTest : public SettingsTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeCorrectionTest, CorrectsOnLoadAndWritesTheCorrectedValue) {
    const RangeCase& c = GetParam();
    WriteSettingsFile(std::string(c.key) + "=" + c.text + "\r\n");
    LoadScanSettings();
    Values expected = kDefaults;
    expected.*c.field = c.expected;
    EXPECT_EQ(Current(), expected) << c.key << "=" << c.text;

    SaveScanSettings();
    EXPECT_EQ(Stored(c.key), std::to_string(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Values, RangeCorrectionTest,
    ::testing::Values(RangeCase{"Paper Size", "18", &Values::paper, 18},
                      RangeCase{"Paper Size", "0", &Values::paper, 0},
                      RangeCase{"Paper Size", "19", &Values::paper, 2},
                      RangeCase{"Paper Size", "-1", &Values::paper, 2},
                      RangeCase{"Scan Type", "1", &Values::scanType, 1},
                      RangeCase{"Scan Type", "2", &Values::scanType, 0},
                      RangeCase{"Scan Type", "-1", &Values::scanType, 0},
                      RangeCase{"Resolution", "0", &Values::resolution, 0},
                      RangeCase{"Resolution", "2", &Values::resolution, 2},
                      RangeCase{"Resolution", "3", &Values::resolution, 1},
                      RangeCase{"Duplex Scanning", "1", &Values::duplex, 1},
                      RangeCase{"Duplex Scanning", "2", &Values::duplex, 0},
                      RangeCase{"Brightness", "-4", &Values::brightness, -4},
                      RangeCase{"Brightness", "4", &Values::brightness, 4},
                      RangeCase{"Brightness", "-3", &Values::brightness, -3},
                      RangeCase{"Brightness", "5", &Values::brightness, 0},
                      RangeCase{"Brightness", "-5", &Values::brightness, 0},
                      RangeCase{"Brightness", "2147483648", &Values::brightness, 0},
                      // Not a number: the leading sign and digits count, else 0.
                      RangeCase{"Resolution", "high", &Values::resolution, 0},
                      RangeCase{"Paper Size", "7 sheets", &Values::paper, 7},
                      RangeCase{"Brightness", "-", &Values::brightness, 0}),
    [](const auto& info) {
        std::string name = std::string(info.param.key) + "_" + info.param.text;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name + "_" + std::to_string(info.index);
    });

TEST_F(SettingsTest, OtherSectionsAndKeysAreLeftAlone) {
    host::WriteFileText(kSettingsFile, std::string("[Other]\r\nPaper Size=9\r\n[") + kSection +
                                           "]\r\nKept=yes\r\nBrightness=3\r\n");
    LoadScanSettings();
    EXPECT_EQ(ScanSettings.Brightness, 3);
    ScanSettings.Brightness = -2;
    SaveScanSettings();
    EXPECT_EQ(host::IniValue(kSettingsFile, "Other", "Paper Size"), "9");
    EXPECT_EQ(Stored("Kept"), "yes");
    EXPECT_EQ(Stored("Brightness"), "-2");
}

TEST_F(SettingsTest, WaitCursorIsShownAroundLoadAndSave) {
    int before = host::CurrentCursor();
    LoadScanSettings();
    SaveScanSettings();
    std::vector<int> expected{kCursorWait, before, kCursorWait, before};
    EXPECT_EQ(host::CursorsSet(), expected);
    EXPECT_EQ(host::CurrentCursor(), before);
}

TEST_F(SettingsTest, FileLivesInTheTemporaryDirectory) {
    host::SetTempPath("D:\\Users\\scan\\Temp\\");
    ScanSettings = ScanSettingsRecord{5, 1, 0, 0, 1};
    SaveScanSettings();
    EXPECT_EQ(host::IniValue("D:\\Users\\scan\\Temp\\UAXXXX.ini", kSection, "Paper Size"), "5");
    EXPECT_FALSE(host::FileExists(kSettingsFile));
}

// The temporary directory is read into 127 characters: 126 and the NUL fit.
TEST_F(SettingsTest, LongestTemporaryDirectoryThatFits) {
    std::string directory = "C:\\" + std::string(122, 't') + "\\";
    ASSERT_EQ(directory.size(), 126u);
    host::SetTempPath(directory);
    ScanSettings = ScanSettingsRecord{4, 0, 2, 0, 0};
    SaveScanSettings();
    EXPECT_EQ(host::IniValue(directory + "UAXXXX.ini", kSection, "Paper Size"), "4");
}

TEST_F(SettingsTest, TemporaryDirectoryTooLongMeansNoFile) {
    std::string directory = "C:\\" + std::string(123, 't') + "\\";
    ASSERT_EQ(directory.size(), 127u);
    host::SetTempPath(directory);
    host::WriteFileText(directory + "UAXXXX.ini",
                        std::string("[") + kSection + "]\r\nPaper Size=9\r\n");
    LoadScanSettings();
    EXPECT_EQ(Current(), kDefaults) << "the file is not read";

    ScanSettings.PaperIndex = 11;
    SaveScanSettings();
    EXPECT_EQ(host::IniValue(directory + "UAXXXX.ini", kSection, "Paper Size"), "9")
        << "nor written";
    EXPECT_EQ(ScanSettings.PaperIndex, 11) << "the values live on with the library";
}

} // namespace
