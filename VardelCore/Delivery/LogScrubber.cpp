#include "LogScrubber.h"

#include <array>
#include <cstddef>
#include <vector>

namespace vardel {

namespace {
    constexpr std::size_t kMinimumDigits = 5;
    constexpr std::size_t kMinimumTail = 30;

    bool isDigit(char c) { return c >= '0' && c <= '9'; }
    bool isAlphanumeric(char c) { return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    bool isTokenCharacter(char c) { return isAlphanumeric(c) || c == '_' || c == '-'; }

    std::string replaceAll(std::string text, std::string_view form)
    {
        if (form.empty())
            return text;
        std::string result;
        result.reserve(text.size());
        std::size_t from = 0;
        for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, from)) {
            result.append(text, from, at - from);
            result.append(LogScrubber::mask);
            from = at + form.size();
        }
        result.append(text, from, std::string::npos);
        return result;
    }

    std::string withColonsAs(std::string_view secret, std::string_view replacement)
    {
        std::string result;
        for (char c : secret) {
            if (c == ':')
                result.append(replacement);
            else
                result.push_back(c);
        }
        return result;
    }

    // Percent-encodes every byte except ASCII letters and digits, with upper-case hex digits.
    std::string percentEncoded(std::string_view secret)
    {
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string result;
        for (char c : secret) {
            if (isAlphanumeric(c)) {
                result.push_back(c);
            } else {
                const auto byte = static_cast<unsigned char>(c);
                result.push_back('%');
                result.push_back(kHex[byte >> 4]);
                result.push_back(kHex[byte & 0x0F]);
            }
        }
        return result;
    }

    // Length of the separator (":" or "%3A"/"%3a") at `at`, or 0.
    std::size_t separatorLength(std::string_view text, std::size_t at)
    {
        if (at < text.size() && text[at] == ':')
            return 1;
        if (at + 2 < text.size() && text[at] == '%' && text[at + 1] == '3'
            && (text[at + 2] == 'A' || text[at + 2] == 'a'))
            return 3;
        return 0;
    }

    // Same result as replacing every match of \d{5,}(?::|%3[Aa])[A-Za-z0-9_-]{30,} with the mask, leftmost
    // first and greedy, in one pass. A match can only start at the beginning of a run of digits (a later
    // start inside the run ends at the same separator with fewer digits), so failing runs are skipped whole.
    std::string maskTokenShapes(std::string_view text)
    {
        std::string result;
        result.reserve(text.size());
        std::size_t i = 0;
        while (i < text.size()) {
            if (!isDigit(text[i])) {
                result.push_back(text[i++]);
                continue;
            }
            std::size_t digitsEnd = i;
            while (digitsEnd < text.size() && isDigit(text[digitsEnd]))
                ++digitsEnd;
            const std::size_t separator = separatorLength(text, digitsEnd);
            if (digitsEnd - i >= kMinimumDigits && separator > 0) {
                const std::size_t tailStart = digitsEnd + separator;
                std::size_t tailEnd = tailStart;
                while (tailEnd < text.size() && isTokenCharacter(text[tailEnd]))
                    ++tailEnd;
                if (tailEnd - tailStart >= kMinimumTail) {
                    result.append(LogScrubber::mask);
                    i = tailEnd;
                    continue;
                }
            }
            result.append(text.substr(i, digitsEnd - i));
            i = digitsEnd;
        }
        return result;
    }
}

std::string LogScrubber::scrub(std::string_view text, std::optional<std::string_view> secret)
{
    std::string result(text);
    if (secret && !secret->empty()) {
        const std::array<std::string, 4> forms { std::string(*secret), withColonsAs(*secret, "%3A"),
            withColonsAs(*secret, "%3a"), percentEncoded(*secret) };
        for (const std::string& form : forms)
            result = replaceAll(std::move(result), form);
    }
    return maskTokenShapes(result);
}

} // namespace vardel
