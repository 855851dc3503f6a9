#pragma once

#include "AppLanguage.h"
#include "K.h"

#include <array>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace vardel {

using TextRow = std::pair<K, std::string_view>;

// Immutable texts of the three languages, indexed by key. Built once from constant (key, text) lists;
// lookups never lock. A key missing in a language falls back to English, then to the key's own name.
// The texts must outlive the table (the built-in lists are static constants).
class StringTable {
public:
    StringTable(std::span<const TextRow> english, std::span<const TextRow> portuguese,
        std::span<const TextRow> spanish);

    // The table of the program, built on first use (thread-safe).
    static const StringTable& builtIn();

    std::string_view text(K key, AppLanguage language) const;
    // The text of `key` in `language` only, without fallback.
    std::optional<std::string_view> exactText(K key, AppLanguage language) const;
    std::map<K, std::string> all(AppLanguage language) const;

private:
    using Column = std::array<std::optional<std::string_view>, kKeyCount>;
    std::array<Column, 3> m_columns;
};

// The constant rows of each language, one list per language.
std::span<const TextRow> englishTextRows();
std::span<const TextRow> portugueseTextRows();
std::span<const TextRow> spanishTextRows();

} // namespace vardel
