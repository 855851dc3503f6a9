#pragma once

#include <functional>
#include <optional>

namespace vardel::test {

// The exception of type `E` that `work` throws; none when it returns.
template <typename E> std::optional<E> thrown(const std::function<void()>& work)
{
    try {
        work();
    } catch (const E& error) {
        return error;
    }
    return std::nullopt;
}

} // namespace vardel::test
