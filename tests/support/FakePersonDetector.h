#pragma once

#include "PersonDetecting.h"

#include <vector>

namespace vardel::test {

// A person detector whose answer the test sets; counts calls and keeps the last frame and focus.
class FakePersonDetector final : public PersonDetecting {
public:
    std::vector<PersonBox> result;
    int calls = 0;
    Frame lastFrame;
    Focus lastFocus;

    std::vector<PersonBox> people(const Frame& frame, const Focus& focus) override
    {
        ++calls;
        lastFrame = frame;
        lastFocus = focus;
        return result;
    }
};

} // namespace vardel::test
