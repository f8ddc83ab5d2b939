#include "capabilities/image_layout.h"

#include "resources/resource_ids.h"
#include "twain/status.h"
#include "ui/settings.h"
#include "ui/tables.h"

namespace {

// The factor is single precision on purpose: applications have always seen
// the frames it gives (1654 hundredths come out one unit of Frac short).
constexpr float kInchesPerHundredth = 0.01f;
constexpr double kWidthMargin = 0.01;
constexpr double kHeightMargin = 0.03;

void WriteFrame(TW_IMAGELAYOUT* layout, int32_t width, int32_t height) {
    *layout = TW_IMAGELAYOUT{};
    layout->Frame.Right = FrameEdge(width, kWidthMargin);
    layout->Frame.Bottom = FrameEdge(height, kHeightMargin);
}

} // namespace

TW_FIX32 FrameEdge(int32_t hundredths, double margin) {
    const double inches =
        static_cast<double>(hundredths) * static_cast<double>(kInchesPerHundredth) + margin;
    const auto n = static_cast<int32_t>(inches * 65536.0 + 0.5);
    return TW_FIX32{static_cast<TW_INT16>(n >> 16), static_cast<TW_UINT16>(n & 0xFFFF)};
}

// DG_IMAGE/DAT_IMAGELAYOUT
TW_UINT16 ImageLayoutOperation(TripletRequest* request) {
    auto* layout = static_cast<TW_IMAGELAYOUT*>(request->data);
    switch (request->message) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
        if (layout == nullptr) {
            ConditionCode = TWCC_BADVALUE;
            return TWRC_FAILURE;
        }
        if (request->message == MSG_GETDEFAULT) {
            WriteFrame(layout, PhysicalSize.width, PhysicalSize.height);
        } else {
            const PaperRow& paper = PaperTable[static_cast<size_t>(ScanSettings.PaperIndex)];
            WriteFrame(layout, paper.widthHundredths, paper.heightHundredths);
        }
        return TWRC_SUCCESS;
    // The frame follows the paper chosen in the dialog or by ICAP_SUPPORTEDSIZES;
    // an application cannot set one of its own.
    case MSG_SET:
    case MSG_RESET:
        return TWRC_SUCCESS;
    default:
        ConditionCode = TWCC_BADPROTOCOL;
        ShowOperationFailure(IDS_OP_IMAGELAYOUT, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
}
