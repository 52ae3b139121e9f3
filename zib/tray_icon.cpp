#include "zib/tray_icon.hpp"

#include <algorithm>
#include <string_view>

namespace zib {

namespace {

NOTIFYICONDATAW make_tray_icon() {
    NOTIFYICONDATAW record{};
    // The record up to and including the item GUID (952 bytes on 32-bit Windows).
    record.cbSize = NOTIFYICONDATAW_V3_SIZE;
    record.uID = TRAY_ICON_ID;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = WM_TRAY_CALLBACK;
    std::wstring_view tip = L"Brindlemoor";
    std::copy(tip.begin(), tip.end(), record.szTip);
    return record;
}

}  // namespace

NOTIFYICONDATAW tray_icon = make_tray_icon();

}  // namespace zib
