#pragma once

#include <functional>

namespace vardel {

// Runs work on the application's main thread. The application implements it on the Qt event loop;
// tests use a manual executor that they drain. Callers guard captured owners with weak pointers.
class MainExecutor {
public:
    virtual ~MainExecutor() = default;
    virtual void post(std::function<void()> work) = 0;
    virtual void postAfter(double seconds, std::function<void()> work) = 0;
};

} // namespace vardel
