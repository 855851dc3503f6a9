#include "Updates.h"

#include "CancellablePoster.h"
#include "Error.h"
#include "Graphemes.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

namespace vardel::Updates {

namespace {

    constexpr double kFetchTimeout = 20;
    constexpr int kMaxNotes = 300;

    Failure broken(const std::string& why) { return { Failure::Case::badFeed, why }; }

    std::vector<unsigned long> numbers(std::string_view version)
    {
        const auto first = version.find_first_not_of(" \t\r\n");
        const auto last = version.find_last_not_of(" \t\r\n");
        version
            = first == std::string_view::npos ? std::string_view() : version.substr(first, last - first + 1);
        std::vector<unsigned long> result;
        while (!version.empty()) {
            const auto dot = version.find('.');
            const std::string_view piece = version.substr(0, dot);
            version = dot == std::string_view::npos ? std::string_view() : version.substr(dot + 1);
            if (piece.empty())
                continue;
            unsigned long value = 0;
            bool overflow = false;
            for (char c : piece) {
                if (c < '0' || c > '9')
                    break;
                overflow = overflow || value > (~0UL - 9) / 10;
                value = value * 10 + static_cast<unsigned long>(c - '0');
            }
            result.push_back(overflow ? 0 : value);
        }
        return result;
    }

    std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw broken("feed local ilegível: " + path);
        std::string bytes(maxFeedBytes + 1, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (in.bad())
            throw broken("feed local ilegível: " + path);
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return bytes;
    }

} // namespace

bool isNewer(std::string_view a, std::string_view than)
{
    const auto left = numbers(a);
    const auto right = numbers(than);
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const unsigned long x = i < left.size() ? left[i] : 0;
        const unsigned long y = i < right.size() ? right[i] : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

bool isDue(std::optional<double> last, double now)
{
    if (!last)
        return true;
    const double elapsed = now - *last;
    return elapsed >= interval || elapsed < 0;
}

bool isHttpsAddress(std::string_view address)
{
    constexpr std::string_view scheme = "https://";
    if (!address.starts_with(scheme))
        return false;
    for (unsigned char c : address)
        if (c <= ' ' || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '\\')
            return false;
    std::string_view authority = address.substr(scheme.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos)
        authority = authority.substr(at + 1);
    const std::string_view host
        = authority.starts_with('[') ? authority : authority.substr(0, authority.find(':'));
    return !host.empty();
}

Release parse(std::string_view bytes)
{
    const auto feed = nlohmann::json::parse(bytes, nullptr, false);
    if (!feed.is_object())
        throw broken("o feed não é um objeto JSON");
    auto text = [&feed](const char* key) -> std::optional<std::string> {
        auto it = feed.find(key);
        return it != feed.end() && it->is_string() ? std::optional(it->get<std::string>()) : std::nullopt;
    };
    Release release { text("version").value_or(""), text("url").value_or(""), text("notes") };
    if (release.version.empty() || release.version[0] < '0' || release.version[0] > '9')
        throw broken("versão inválida no feed");
    if (!isHttpsAddress(release.url))
        throw broken("endereço inválido no feed");
    if (release.notes && release.notes->empty())
        release.notes.reset();
    if (release.notes)
        release.notes = graphemePrefix(*release.notes, kMaxNotes);
    return release;
}

std::optional<Release> check(const std::string& feed, std::string_view current, HTTPPosting& http)
{
    std::string body;
    if (feed.starts_with("file://")) {
        body = readFile(feed.substr(7));
    } else {
        if (!isHttpsAddress(feed))
            throw broken("o feed não é https");
        HTTPPosting::Response response;
        try {
            response = http.post({ feed, "GET", { { "Cache-Control", "no-cache" } }, {}, kFetchTimeout });
        } catch (const Error& error) {
            if (error.code() == CancellablePoster::kTooLarge)
                throw broken(error.what());
            throw Failure(Failure::Case::offline, error.what());
        } catch (const std::exception& error) {
            throw Failure(Failure::Case::offline, error.what());
        }
        if (response.status != 200)
            throw broken("o feed respondeu HTTP " + std::to_string(response.status));
        body = std::move(response.body);
    }
    if (body.size() > maxFeedBytes)
        throw broken("feed maior que " + std::to_string(maxFeedBytes) + " bytes");
    Release release = parse(body);
    if (isNewer(release.version, current))
        return release;
    return std::nullopt;
}

} // namespace vardel::Updates
