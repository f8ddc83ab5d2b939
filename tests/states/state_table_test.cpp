// The source's states: every change the requests make, and every request
// refused outside the states that accept it.
#include "states/session.h"

#include "twain/user_interface.h"

namespace {

// How a test brings the source into each state, as an application would.
enum class Reach {
    Loaded,         // 300 before any open
    Closed,         // 300 after an open and a close: boxes are shown from here on
    Open,           // 400
    Enabled,        // 500, the settings dialog shown
    ReadyByScan,    // 600 through the dialog's Scan button
    ReadyWithoutUi, // 600 through an enable without the user interface
    Transferring,   // 700: no request enters it, so the test puts it there
};

const char* Name(Reach reach) {
    switch (reach) {
    case Reach::Loaded:
        return "300 (loaded)";
    case Reach::Closed:
        return "300 (closed)";
    case Reach::Open:
        return "400";
    case Reach::Enabled:
        return "500";
    case Reach::ReadyByScan:
        return "600 (Scan)";
    case Reach::ReadyWithoutUi:
        return "600 (no user interface)";
    case Reach::Transferring:
        return "700";
    }
    return "?";
}

class StateTable : public SourceSession {
  protected:
    void Bring(Reach reach) {
        Reload([] { sim::AddScanner(0); });
        if (reach == Reach::Loaded) {
            return;
        }
        ASSERT_EQ(Open(), TWRC_SUCCESS);
        switch (reach) {
        case Reach::Closed:
            ASSERT_EQ(Close(), TWRC_SUCCESS);
            break;
        case Reach::Enabled:
            ASSERT_EQ(Enable(true), TWRC_SUCCESS);
            break;
        case Reach::ReadyByScan:
            ASSERT_EQ(Enable(true), TWRC_SUCCESS);
            host::PressButton(SettingsDialog(), IDC_SCAN_BUTTON);
            break;
        case Reach::ReadyWithoutUi:
        case Reach::Transferring:
            ASSERT_EQ(Enable(false), TWRC_SUCCESS);
            if (reach == Reach::Transferring) {
                SourceState = kStateTransferring;
            }
            break;
        default:
            break;
        }
        host::ClearErrors();
    }
};

struct Request {
    const char* name;
    TW_UINT32 group;
    TW_UINT16 dat;
    TW_UINT16 msg;
};

constexpr Request kOpenDs{"MSG_OPENDS", DG_CONTROL, DAT_IDENTITY, MSG_OPENDS};
constexpr Request kCloseDs{"MSG_CLOSEDS", DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS};
constexpr Request kEnableUi{"MSG_ENABLEDS", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS};
constexpr Request kDisableDs{"MSG_DISABLEDS", DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS};
constexpr Request kPendingGet{"DAT_PENDINGXFERS/MSG_GET", DG_CONTROL, DAT_PENDINGXFERS, MSG_GET};
constexpr Request kEndXfer{"MSG_ENDXFER", DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER};
constexpr Request kResetXfers{"DAT_PENDINGXFERS/MSG_RESET", DG_CONTROL, DAT_PENDINGXFERS,
                              MSG_RESET};
constexpr Request kSetupMem{"DAT_SETUPMEMXFER", DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET};
constexpr Request kSetupFile{"DAT_SETUPFILEXFER", DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET};
constexpr Request kXferGroup{"DAT_XFERGROUP", DG_CONTROL, DAT_XFERGROUP, MSG_GET};
constexpr Request kImageInfo{"DAT_IMAGEINFO", DG_IMAGE, DAT_IMAGEINFO, MSG_GET};
constexpr Request kNativeXfer{"DAT_IMAGENATIVEXFER", DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET};

// A record of the right kind for each of the requests above.
struct RequestData {
    TW_IDENTITY identity{};
    TW_USERINTERFACE ui{1, 0, host::kApplicationWindow};
    TW_PENDINGXFERS pending{};
    TW_SETUPMEMXFER setupMemory{};
    TW_SETUPFILEXFER setupFile{};
    TW_UINT32 group = 0;
    TW_IMAGEINFO imageInfo{};
    TW_UINT32 bitmap = 0;
};

TW_MEMREF DataFor(const Request& request, RequestData& data, const TW_IDENTITY& manager) {
    switch (request.dat) {
    case DAT_IDENTITY:
        data.identity = manager;
        return &data.identity;
    case DAT_USERINTERFACE:
        return &data.ui;
    case DAT_PENDINGXFERS:
        return &data.pending;
    case DAT_SETUPMEMXFER:
        return &data.setupMemory;
    case DAT_SETUPFILEXFER:
        return &data.setupFile;
    case DAT_XFERGROUP:
        return &data.group;
    case DAT_IMAGEINFO:
        return &data.imageInfo;
    default:
        return &data.bitmap;
    }
}

struct Transition {
    Reach from;
    const char* event;
    int32_t to;
};

TEST_F(StateTable, EveryTransition) {
    const Transition transitions[] = {
        {Reach::Loaded, "open", kStateOpen},
        {Reach::Open, "enable with the user interface", kStateEnabled},
        {Reach::Open, "enable without the user interface", kStateTransferReady},
        {Reach::Enabled, "Scan", kStateTransferReady},
        {Reach::ReadyByScan, "Scan", kStateTransferReady},
        {Reach::Open, "disable", kStateOpen},
        {Reach::Enabled, "disable", kStateOpen},
        {Reach::ReadyByScan, "disable", kStateOpen},
        {Reach::ReadyWithoutUi, "disable", kStateOpen},
        {Reach::Transferring, "disable", kStateOpen},
        {Reach::Open, "close", kStateLoaded},
        {Reach::Enabled, "close", kStateLoaded},
        {Reach::ReadyByScan, "close", kStateLoaded},
        {Reach::ReadyWithoutUi, "close", kStateLoaded},
        {Reach::Transferring, "close", kStateLoaded},
    };
    for (const Transition& t : transitions) {
        SCOPED_TRACE(std::string(Name(t.from)) + ", " + t.event);
        Bring(t.from);
        std::string event = t.event;
        TW_UINT16 rc = TWRC_SUCCESS;
        if (event == "open") {
            rc = Open();
        } else if (event == "enable with the user interface") {
            rc = Enable(true);
        } else if (event == "enable without the user interface") {
            rc = Enable(false);
        } else if (event == "Scan") {
            host::PressButton(SettingsDialog(), IDC_SCAN_BUTTON);
        } else if (event == "disable") {
            rc = Disable();
        } else {
            rc = Close();
        }
        EXPECT_EQ(rc, TWRC_SUCCESS);
        EXPECT_EQ(SourceState, t.to);
        EXPECT_TRUE(host::MessageBoxes().empty()) << host::MessageBoxes()[0].text;
    }
}

TEST_F(StateTable, EndingOrResettingTransfersKeepsTheState) {
    for (Reach from : {Reach::ReadyByScan, Reach::ReadyWithoutUi}) {
        for (const Request& request : {kEndXfer, kResetXfers}) {
            SCOPED_TRACE(std::string(request.name) + " in " + Name(from));
            Bring(from);
            RequestData data;
            EXPECT_EQ(Call(request.group, request.dat, request.msg,
                           DataFor(request, data, sourceIdentity)),
                      TWRC_SUCCESS);
            EXPECT_EQ(SourceState, kStateTransferReady);
        }
    }
}

struct Refusal {
    Reach state;
    Request request;
    int text; // 0: refused in silence, the condition code left as it was
};

TEST_F(StateTable, EveryRefusalWithItsTextAndCode) {
    const Refusal refusals[] = {
        {Reach::Closed, kOpenDs, 0},
        {Reach::Open, kOpenDs, 0},
        {Reach::Transferring, kOpenDs, 0},
        {Reach::Loaded, kCloseDs, IDS_OP_CLOSEDS},
        {Reach::Closed, kCloseDs, IDS_OP_CLOSEDS},
        {Reach::Closed, kEnableUi, IDS_OP_ENABLEDS},
        {Reach::Enabled, kEnableUi, IDS_OP_ENABLEDS},
        {Reach::ReadyByScan, kEnableUi, IDS_OP_ENABLEDS},
        {Reach::ReadyWithoutUi, kEnableUi, IDS_OP_ENABLEDS},
        {Reach::Transferring, kEnableUi, IDS_OP_ENABLEDS},
        {Reach::Closed, kDisableDs, IDS_OP_DISABLEDS},
        {Reach::Closed, kPendingGet, IDS_OP_PENDINGXFERS},
        {Reach::Closed, kSetupMem, IDS_OP_SETUPMEMXFER},
        {Reach::Transferring, kSetupMem, IDS_OP_SETUPMEMXFER},
        {Reach::Closed, kSetupFile, IDS_OP_SETUPFILEXFER},
        {Reach::Transferring, kSetupFile, IDS_OP_SETUPFILEXFER},
        {Reach::Closed, kXferGroup, IDS_OP_XFERGROUP},
        {Reach::Transferring, kXferGroup, IDS_OP_XFERGROUP},
        {Reach::Closed, kImageInfo, IDS_OP_IMAGEINFO},
        {Reach::Open, kImageInfo, IDS_OP_IMAGEINFO},
        {Reach::Enabled, kImageInfo, IDS_OP_IMAGEINFO},
        {Reach::Closed, kNativeXfer, IDS_OP_IMAGENATIVEXFER},
        {Reach::Open, kNativeXfer, IDS_OP_IMAGENATIVEXFER},
        {Reach::Enabled, kNativeXfer, IDS_OP_IMAGENATIVEXFER},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(std::string(r.request.name) + " in " + Name(r.state));
        Bring(r.state);
        int32_t stateBefore = SourceState;
        TW_UINT16 conditionBefore = Condition();
        int blocksBefore = sim::Slot(0).blocksTotal;
        RequestData data;
        EXPECT_EQ(Call(r.request.group, r.request.dat, r.request.msg,
                       DataFor(r.request, data, sourceIdentity)),
                  TWRC_FAILURE);
        EXPECT_EQ(SourceState, stateBefore);
        // A refused request never reaches the scanner.
        EXPECT_EQ(sim::Slot(0).blocksTotal, blocksBefore);
        if (r.text == 0) {
            EXPECT_TRUE(host::MessageBoxes().empty());
            EXPECT_EQ(Condition(), conditionBefore);
            continue;
        }
        EXPECT_EQ(Condition(), TWCC_SEQERROR);
        if (r.state == Reach::Loaded) {
            // No resource module is chosen before the first open: no box can be shown.
            EXPECT_TRUE(host::MessageBoxes().empty());
        } else {
            EXPECT_EQ(BoxTexts(), std::vector<std::string>{FailureText(r.text, TWCC_SEQERROR)});
        }
    }
}

} // namespace
