#include "Multipart.h"

#include <cstdint>
#include <random>

namespace vardel::multipart {

namespace {

    constexpr char kHex[] = "0123456789ABCDEF";

    bool isUnreserved(unsigned char c)
    {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
            || c == '.' || c == '_' || c == '~';
    }

    std::string headerSafe(std::string_view name)
    {
        std::string out;
        out.reserve(name.size());
        for (char c : name) {
            if (c == '"')
                out += "%22";
            else if (c == '\r')
                out += "%0D";
            else if (c == '\n')
                out += "%0A";
            else
                out += c;
        }
        return out;
    }

} // namespace

std::string percentEncode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if (isUnreserved(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string formEncode(const std::map<std::string, std::string>& fields)
{
    std::string out;
    for (const auto& [key, value] : fields) {
        if (!out.empty())
            out += '&';
        out += percentEncode(key);
        out += '=';
        out += percentEncode(value);
    }
    return out;
}

std::string newBoundary()
{
    thread_local std::mt19937_64 generator([] {
        std::random_device device;
        std::seed_seq seed { device(), device(), device(), device() };
        return std::mt19937_64(seed);
    }());
    std::uint8_t bytes[16];
    for (int i = 0; i < 16; i += 8) {
        std::uint64_t value = generator();
        for (int j = 0; j < 8; ++j)
            bytes[i + j] = static_cast<std::uint8_t>(value >> (8 * j));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);

    std::string out;
    out.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0x0F];
    }
    return out;
}

std::string body(const std::string& boundary, const std::map<std::string, std::string>& fields,
    const FilePart& file, std::string_view bytes)
{
    std::size_t size = bytes.size() + 256 + file.fileName.size();
    for (const auto& [key, value] : fields)
        size += key.size() + value.size() + boundary.size() + 64;

    std::string out;
    out.reserve(size);
    for (const auto& [key, value] : fields) {
        out += "--" + boundary + "\r\n";
        out += "Content-Disposition: form-data; name=\"" + headerSafe(key) + "\"\r\n\r\n";
        out += value;
        out += "\r\n";
    }
    out += "--" + boundary + "\r\n";
    out += "Content-Disposition: form-data; name=\"" + headerSafe(file.fieldName) + "\"; filename=\""
        + headerSafe(file.fileName) + "\"\r\n";
    out += "Content-Type: " + file.contentType + "\r\n\r\n";
    out.append(bytes);
    out += "\r\n--" + boundary + "--\r\n";
    return out;
}

} // namespace vardel::multipart
