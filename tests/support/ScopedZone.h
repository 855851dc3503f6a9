#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vardel::test {

// Sets the process's time zone (TZ) while it lives, and puts the previous one back.
class ScopedZone {
public:
    explicit ScopedZone(const char* zone) { set(zone); }
    ~ScopedZone() { m_old ? setenv("TZ", m_old->c_str(), 1) : unsetenv("TZ"), tzset(); }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

    void set(const char* zone) { setenv("TZ", zone, 1), tzset(); }

private:
    std::optional<std::string> m_old = std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

} // namespace vardel::test
