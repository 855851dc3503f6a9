#pragma once

#include <stdexcept>
#include <string>

namespace vardel {

// The program's own failures: domain "Vardel" with small integer codes and a readable description.
// System failures use std::system_error / std::filesystem::filesystem_error instead.
class Error : public std::runtime_error {
public:
    Error(int code, const std::string& description, std::string domain = "Vardel")
        : std::runtime_error(description)
        , m_domain(std::move(domain))
        , m_code(code)
    {
    }

    const std::string& domain() const { return m_domain; }
    int code() const { return m_code; }
    std::string description() const { return what(); }

private:
    std::string m_domain;
    int m_code;
};

} // namespace vardel
