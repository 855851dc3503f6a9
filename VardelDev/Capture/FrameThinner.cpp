#include "FrameThinner.h"

namespace vardel {

bool FrameThinner::accept(double presentationTime)
{
    if (m_lastProcessed && presentationTime >= *m_lastProcessed
        && presentationTime - *m_lastProcessed < kSpacing)
        return false;
    m_lastProcessed = presentationTime;
    return true;
}

} // namespace vardel
