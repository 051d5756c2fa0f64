#include "app/form_layout.h"

#include <algorithm>
#include <cmath>

namespace ZELKUtil {
namespace {

int Round(double value) {
    return static_cast<int>(std::lround(value));
}

}  // namespace

const ControlDesign& DesignOf(Control control) {
    for (const ControlDesign& design : kControlDesigns) {
        if (design.control == control) {
            return design;
        }
    }
    // Every Control has a row; the table and the enumeration are kept together.
    return kControlDesigns[0];
}

Rect Scaled(const Rect& design, double scaleX, double scaleY) {
    return {Round(design.x * scaleX), Round(design.y * scaleY), Round(design.width * scaleX),
            Round(design.height * scaleY)};
}

Rect Anchored(const Rect& placed, unsigned anchors, int dw, int dh) {
    Rect r = placed;
    const bool left = (anchors & kAnchorLeft) != 0;
    const bool right = (anchors & kAnchorRight) != 0;
    const bool top = (anchors & kAnchorTop) != 0;
    const bool bottom = (anchors & kAnchorBottom) != 0;
    if (left && right) {
        r.width += dw;
    } else if (right) {
        r.x += dw;
    } else if (!left) {
        r.x += dw / 2;
    }
    if (top && bottom) {
        r.height += dh;
    } else if (bottom) {
        r.y += dh;
    } else if (!top) {
        r.y += dh / 2;
    }
    return r;
}

void FitCheckBoxPair(Rect& arm, Rect& fpga, int armWidth, int fpgaWidth) {
    const int gap = fpga.x - arm.Right();
    const auto fit = [](Rect& box, int width) {
        const int right = box.Right();
        box.width = std::max(box.width, width);
        box.x = right - box.width;
    };
    fit(arm, armWidth);
    fit(fpga, fpgaWidth);
    fpga.x = std::max(fpga.x, arm.Right() + gap);
}

}  // namespace ZELKUtil
