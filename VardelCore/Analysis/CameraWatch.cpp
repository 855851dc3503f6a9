#include "CameraWatch.h"

#include <algorithm>

namespace vardel {

namespace {

    bool listed(const std::vector<std::string>& available, const std::string& name)
    {
        return std::find(available.begin(), available.end(), name) != available.end();
    }

} // namespace

CameraWatch::Action CameraWatch::update(const std::vector<std::string>& available, const std::string& chosen,
    const std::optional<std::string>& inUse)
{
    if (m_missingName) {
        if (!listed(available, *m_missingName))
            return Action::none;
        m_missingName.reset();
        return Action::resume;
    }
    if (!inUse)
        return Action::none;
    const std::string& watched = chosen.empty() ? *inUse : chosen;
    if (listed(available, watched))
        return Action::none;
    m_missingName = watched;
    return Action::pause;
}

} // namespace vardel
