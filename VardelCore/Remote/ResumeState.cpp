#include "ResumeState.h"

#include "AtomicFile.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace vardel {

namespace {
    constexpr std::uintmax_t kMaxFileSize = 4096;
}

std::string ResumeState::encode() const
{
    nlohmann::json object = { { "protecting", protecting } };
    if (aliveAt)
        object["aliveAt"] = *aliveAt;
    return object.dump();
}

ResumeState ResumeState::decode(std::string_view text)
{
    const auto object = nlohmann::json::parse(text, nullptr, false);
    ResumeState state;
    if (!object.is_object())
        return state;
    if (const auto it = object.find("protecting"); it != object.end() && it->is_boolean())
        state.protecting = it->get<bool>();
    if (const auto it = object.find("aliveAt"); it != object.end() && it->is_number())
        state.aliveAt = it->get<double>();
    return state;
}

ResumeState ResumeState::load(const std::filesystem::path& file)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)
        || std::filesystem::file_size(file, error) > kMaxFileSize)
        return {};
    std::ifstream in(file, std::ios::binary);
    return decode(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

void ResumeState::save(const std::filesystem::path& file) const { AtomicFile::write(file, encode()); }

} // namespace vardel
