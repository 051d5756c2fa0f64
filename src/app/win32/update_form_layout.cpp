// The Win32 window's layout: the controls at their design places, scaled for the window's font,
// anchored to the window's edges, sized to their texts, and scaled again when the window moves to
// a monitor of another DPI.
#include <algorithm>
#include <cmath>

#include "app/win32/system_dpi.h"
#include "app/win32/update_form.h"
#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"

namespace ZELKUtil {
namespace {

// Rows of the drop-down list of ComboZelkType.
constexpr int kComboListRows = 8;

int Round(double value) {
    return static_cast<int>(std::lround(value));
}

}  // namespace

void UpdateForm::MeasureFont() {
    if (requestedScale_) {
        scale_ = *requestedScale_;
        return;
    }
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font_ != nullptr ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW tm{};
    const bool measured = GetTextMetricsW(dc, &tm) != 0;
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    if (measured && tm.tmAveCharWidth > 0 && tm.tmHeight > 0) {
        scale_ = {static_cast<double>(tm.tmAveCharWidth) / kDesignCellWidth,
                  static_cast<double>(tm.tmHeight) / kDesignCellHeight};
    }
}

std::size_t UpdateForm::IndexOf(Control control) const {
    return static_cast<std::size_t>(&DesignOf(control) - kControlDesigns);
}

HWND UpdateForm::ControlHandle(Control control) const {
    return controls_[IndexOf(control)];
}

Rect UpdateForm::ClientRect(HWND control) const {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void UpdateForm::Place(std::size_t index, const Rect& rect) {
    int height = rect.height;
    if (kControlDesigns[index].kind == ControlKind::Combo) {
        // A drop-down combo box's height is that of its field and its opened list together.
        const LRESULT item = SendMessageW(controls_[index], CB_GETITEMHEIGHT, 0, 0);
        height += kComboListRows * static_cast<int>(item > 0 ? item : rect.height);
    }
    MoveWindow(controls_[index], rect.x, rect.y, rect.width, height, TRUE);
}

void UpdateForm::Rebase(std::size_t index) {
    RECT client{};
    GetClientRect(hwnd_, &client);
    placements_[index] = {ClientRect(controls_[index]), client.right, client.bottom};
}

void UpdateForm::ApplyAnchors() {
    if (controls_[0] == nullptr || controls_.back() == nullptr) {
        return;  // still being created
    }
    RECT client{};
    GetClientRect(hwnd_, &client);
    for (std::size_t i = 0; i < kControls; ++i) {
        const Placement& p = placements_[i];
        Place(i, Anchored(p.rect, kControlDesigns[i].anchors, client.right - p.windowWidth,
                          client.bottom - p.windowHeight));
    }
}

void UpdateForm::FitComboHeight() {
    // The field's height follows its item height, which follows the font; the design gives the
    // field 21 pixels. How much frame the control adds around the item height it is given is its
    // own affair (Wine adds more than it reports), so the height set is corrected by what the field
    // then measures, until it fits (a step or two).
    const std::size_t index = IndexOf(Control::ComboZelkType);
    HWND combo = controls_[index];
    const int wanted = placements_[index].rect.height;
    int item = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, WPARAM(-1), 0));
    for (int tries = 0; tries < 3 && item > 0; ++tries) {
        const int actual = ClientRect(combo).height;
        if (actual == wanted || item + wanted - actual <= 0) {
            break;
        }
        item += wanted - actual;
        SendMessageW(combo, CB_SETITEMHEIGHT, WPARAM(-1), item);
    }
    Rebase(index);
}

int UpdateForm::TextWidth(const std::wstring& text) const {
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_ != nullptr ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return size.cx;
}

void UpdateForm::FitLabel(Control label) {
    // Sized to its text (all of its lines), keeping its place.
    const std::size_t index = IndexOf(label);
    HWND control = controls_[index];
    const std::wstring text = Utf8ToWide(texts_[index]);
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_ != nullptr ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    RECT bounds{0, 0, 0, 0};
    if (!text.empty()) {
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
                  DT_CALCRECT | DT_LEFT | DT_NOPREFIX | DT_EXPANDTABS);
    }
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    Rect r = ClientRect(control);
    r.width = bounds.right - bounds.left;
    r.height = std::max<int>(bounds.bottom - bounds.top, tm.tmHeight);
    MoveWindow(control, r.x, r.y, r.width, r.height, TRUE);
    Rebase(index);
}

void UpdateForm::FitCheckBoxes() {
    // The box, the gap the control leaves between box and text, and the text.
    const int box = Windows::CheckBoxWidth(dpi_);
    const int gap = TextWidth(L"0") / 2 + 2;
    const std::size_t armIndex = IndexOf(Control::CheckProgramArm);
    const std::size_t fpgaIndex = IndexOf(Control::CheckProgramFPGA);
    Rect arm = ClientRect(controls_[armIndex]);
    Rect fpga = ClientRect(controls_[fpgaIndex]);
    FitCheckBoxPair(arm, fpga, box + gap + TextWidth(Utf8ToWide(texts_[armIndex])),
                    box + gap + TextWidth(Utf8ToWide(texts_[fpgaIndex])));
    Place(armIndex, arm);
    Place(fpgaIndex, fpga);
    Rebase(armIndex);
    Rebase(fpgaIndex);
}

void UpdateForm::SetClientSize(int width, int height) {
    const SIZE frame = Windows::FrameSizeForClient(
        width, height, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)),
        static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)), dpi_);
    const UINT flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.cx, frame.cy, flags);
    // Where the frame is not what the system said it would be (Wine draws it at one DPI for all
    // monitors), the difference is made up once.
    RECT client{};
    GetClientRect(hwnd_, &client);
    if (client.right != width || client.bottom != height) {
        SetWindowPos(hwnd_, nullptr, 0, 0, frame.cx + width - client.right,
                     frame.cy + height - client.bottom, flags);
    }
}

void UpdateForm::OnDpiChanged(UINT dpi, const RECT& suggested) {
    HFONT font = Windows::CreateMessageFont(dpi);
    if (font == nullptr) {
        return;
    }
    HFONT old = font_;
    font_ = font;
    dpi_ = dpi;
    const Scale before = scale_;
    MeasureFont();
    // Everything where it was, in the new scale: the places, the window sizes they were made for,
    // and the window's own size as the operator left it.
    const double rx = scale_.x / before.x;
    const double ry = scale_.y / before.y;
    for (std::size_t i = 0; i < kControls; ++i) {
        Placement& p = placements_[i];
        p.rect = {Round(p.rect.x * rx), Round(p.rect.y * ry), Round(p.rect.width * rx),
                  Round(p.rect.height * ry)};
        p.windowWidth = Round(p.windowWidth * rx);
        p.windowHeight = Round(p.windowHeight * ry);
        SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    }
    RECT client{};
    GetClientRect(hwnd_, &client);
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetClientSize(Round(client.right * rx), Round(client.bottom * ry));
    ApplyAnchors();
    FitComboHeight();
    for (Control label : {Control::DeviceLabel, Control::TextUpgradeVersion, Control::LabelMode,
                          Control::LabelEye}) {
        FitLabel(label);
    }
    FitCheckBoxes();
    if (old != nullptr) {
        DeleteObject(old);
    }
}

}  // namespace ZELKUtil
