#include "AreaDraft.h"

namespace vardel {

bool AreaDraft::isUsable(const std::optional<ROI>& area)
{
    return area && isSavable(*area) && !area->isFull();
}

bool AreaDraft::isSavable(const ROI& area)
{
    return area.isValid() && area.w >= minimumSize && area.h >= minimumSize;
}

} // namespace vardel
