#include "app/win32/system_dpi.h"

namespace ZELKUtil::Windows {
namespace {

template <typename Function>
Function UserCall(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    // The cast from FARPROC is how a looked-up entry point gets its type.
    return user32 == nullptr ? nullptr
                             : reinterpret_cast<Function>(
                                   reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace

UINT DpiOfWindow(HWND window) {
    using GetDpiForWindowCall = UINT(WINAPI*)(HWND);
    const auto getDpiForWindow = UserCall<GetDpiForWindowCall>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow != nullptr && window != nullptr ? getDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

HFONT CreateMessageFont(UINT dpi) {
    using ForDpiCall = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    const auto forDpi = UserCall<ForDpiCall>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    const bool got =
        forDpi != nullptr
            ? forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi) != 0
            : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) != 0;
    return got ? CreateFontIndirectW(&metrics.lfMessageFont) : nullptr;
}

int CheckBoxWidth(UINT dpi) {
    using MetricsForDpiCall = int(WINAPI*)(int, UINT);
    const auto metricsForDpi = UserCall<MetricsForDpiCall>("GetSystemMetricsForDpi");
    return metricsForDpi != nullptr ? metricsForDpi(SM_CXMENUCHECK, dpi)
                                    : GetSystemMetrics(SM_CXMENUCHECK);
}

SIZE FrameSizeForClient(int width, int height, DWORD style, DWORD exStyle, UINT dpi) {
    using AdjustForDpiCall = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    const auto adjustForDpi = UserCall<AdjustForDpiCall>("AdjustWindowRectExForDpi");
    RECT frame{0, 0, width, height};
    if (adjustForDpi == nullptr || !adjustForDpi(&frame, style, FALSE, exStyle, dpi)) {
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    return {frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace ZELKUtil::Windows
