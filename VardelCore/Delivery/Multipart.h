#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vardel::multipart {

// Request bodies for the Bot API: "application/x-www-form-urlencoded" for plain calls and
// "multipart/form-data" for uploads. Pure functions; safe on any thread.

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ (a space becomes %20, never "+").
std::string percentEncode(std::string_view text);

// key=value pairs in ascending key order, both sides percent-encoded, joined with "&".
std::string formEncode(const std::map<std::string, std::string>& fields);

// A fresh random (version 4) UUID in canonical upper-case form, 36 characters.
std::string newBoundary();

struct FilePart {
    std::string fieldName;
    std::string fileName;
    std::string contentType;

    bool operator==(const FilePart&) const = default;
};

// The text fields in ascending key order, then the file part, then the closing boundary; CR LF line ends.
// A double quote, CR or LF in a field or file name is written as %22, %0D or %0A so that a file name can
// never break out of its header line.
std::string body(const std::string& boundary, const std::map<std::string, std::string>& fields,
    const FilePart& file, std::string_view bytes);

} // namespace vardel::multipart
