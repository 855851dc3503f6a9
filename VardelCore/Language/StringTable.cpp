#include "StringTable.h"

namespace vardel {

namespace {

    std::size_t column(AppLanguage language) { return static_cast<std::size_t>(language.value()); }

    std::size_t row(K key) { return static_cast<std::size_t>(key); }

} // namespace

StringTable::StringTable(
    std::span<const TextRow> english, std::span<const TextRow> portuguese, std::span<const TextRow> spanish)
{
    auto fill = [](Column& target, std::span<const TextRow> rows) {
        for (const auto& [key, text] : rows) {
            if (row(key) < target.size())
                target[row(key)] = text;
        }
    };
    fill(m_columns[column(AppLanguage::en)], english);
    fill(m_columns[column(AppLanguage::ptBR)], portuguese);
    fill(m_columns[column(AppLanguage::es)], spanish);
}

const StringTable& StringTable::builtIn()
{
    static const StringTable table(englishTextRows(), portugueseTextRows(), spanishTextRows());
    return table;
}

std::optional<std::string_view> StringTable::exactText(K key, AppLanguage language) const
{
    if (row(key) >= kKeyCount)
        return std::nullopt;
    return m_columns[column(language)][row(key)];
}

std::string_view StringTable::text(K key, AppLanguage language) const
{
    if (auto found = exactText(key, language))
        return *found;
    if (auto english = exactText(key, AppLanguage::en))
        return *english;
    return rawValue(key);
}

std::map<K, std::string> StringTable::all(AppLanguage language) const
{
    std::map<K, std::string> result;
    const Column& texts = m_columns[column(language)];
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i])
            result.emplace(static_cast<K>(i), std::string(*texts[i]));
    }
    return result;
}

} // namespace vardel
