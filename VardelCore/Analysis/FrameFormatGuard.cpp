#include "FrameFormatGuard.h"

namespace vardel {

FrameFormatGuard::Change FrameFormatGuard::observe(int newWidth, int newHeight)
{
    Change change = Change::changed;
    if (width == 0)
        change = Change::first;
    else if (newWidth == width && newHeight == height)
        change = Change::same;
    width = newWidth;
    height = newHeight;
    return change;
}

double FrameFormatGuard::aspect() const
{
    return height < 1 ? 16.0 / 9.0 : static_cast<double>(width) / height;
}

} // namespace vardel
