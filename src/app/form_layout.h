#pragma once

#include "controller/periods.h"
#include "controller/view.h"

namespace ZELKUtil {

// The window's design, toolkit-neutral: what each control is, where it stands at the design scale
// and which window edges it keeps its distance to. The native windows build themselves from it and
// their tests check them against it.

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int Right() const { return x + width; }
    int Bottom() const { return y + height; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

enum Anchor : unsigned { kAnchorTop = 1, kAnchorBottom = 2, kAnchorLeft = 4, kAnchorRight = 8 };

enum class ControlKind { Label, Log, CheckBox, Button, Combo };

struct ControlDesign {
    Control control;
    const char* name;
    ControlKind kind;
    const char* text;
    Rect rect;
    unsigned anchors;
    bool shown;
};

inline constexpr int kDesignWidth = 317;
inline constexpr int kDesignHeight = 355;
// The font cell the design was drawn with; a window scales by its own font's cell against it.
inline constexpr int kDesignCellWidth = 6;
inline constexpr int kDesignCellHeight = 13;
inline constexpr int kTimerIntervalMs = static_cast<int>(Periods::kPollMs);

// In the order the window creates them, which is also their tab order (ButtonDiag and
// buttonRestart share a tab index and keep creation order).
inline constexpr ControlDesign kControlDesigns[] = {
    {Control::DeviceLabel,
     "DeviceLabel",
     ControlKind::Label,
     "No device found",
     {12, 31, 86, 13},
     kAnchorTop | kAnchorLeft,
     true},
    {Control::TextOutput,
     "TextOutput",
     ControlKind::Log,
     "",
     {15, 86, 290, 239},
     kAnchorTop | kAnchorBottom | kAnchorLeft | kAnchorRight,
     true},
    {Control::TextUpgradeVersion,
     "TextUpgradeVersion",
     ControlKind::Label,
     "Upgrade Version",
     {12, 9, 86, 13},
     kAnchorTop | kAnchorLeft,
     true},
    {Control::CheckProgramArm,
     "CheckProgramArm",
     ControlKind::CheckBox,
     "Program ARM",
     {63, 331, 92, 17},
     kAnchorBottom,
     false},
    {Control::CheckProgramFPGA,
     "CheckProgramFPGA",
     ControlKind::CheckBox,
     "Program FPGA",
     {161, 331, 96, 17},
     kAnchorBottom,
     false},
    {Control::ButtonDiag,
     "ButtonDiag",
     ControlKind::Button,
     "Get Stats",
     {15, 54, 60, 21},
     kAnchorTop | kAnchorLeft,
     true},
    {Control::buttonRestart,
     "buttonRestart",
     ControlKind::Button,
     "Start",
     {245, 54, 60, 21},
     kAnchorTop | kAnchorRight,
     true},
    {Control::ComboZelkType,
     "ComboZelkType",
     ControlKind::Combo,
     "",
     {93, 54, 134, 21},
     kAnchorTop | kAnchorLeft,
     false},
    {Control::LabelMode,
     "LabelMode",
     ControlKind::Label,
     "",
     {15, 332, 0, 13},
     kAnchorBottom | kAnchorLeft,
     true},
    {Control::ButtonForce,
     "ButtonForce",
     ControlKind::Button,
     "Boot",
     {245, 23, 60, 21},
     kAnchorTop | kAnchorRight,
     false},
    {Control::ButtonAutoRings,
     "ButtonAutoRings",
     ControlKind::Button,
     "Enable Rings",
     {15, 304, 84, 21},
     kAnchorBottom | kAnchorLeft,
     false},
    {Control::LabelEye,
     "LabelEye",
     ControlKind::Label,
     "      ",
     {105, 308, 25, 13},
     kAnchorBottom | kAnchorLeft,
     false},
};

const ControlDesign& DesignOf(Control control);

// The design rectangle in pixels for a window whose font cell is `scaleX`, `scaleY` times the
// design cell.
Rect Scaled(const Rect& design, double scaleX, double scaleY);

// Where a control that stood at `placed` stands once the window has grown by dw, dh (negative
// when it shrank): it keeps its distance to the edges it is anchored to, stretches when anchored
// to both opposite edges, and moves by half the change when anchored to neither.
Rect Anchored(const Rect& placed, unsigned anchors, int dw, int dh);

// Widens the two check boxes to the widths their texts need. Each keeps the right edge of its
// place ("Program ARM" draws its box there), so a wider text grows to the left; where "Program
// FPGA" would then cover "Program ARM", it starts the design gap right of it instead.
void FitCheckBoxPair(Rect& arm, Rect& fpga, int armWidth, int fpgaWidth);

}  // namespace ZELKUtil
