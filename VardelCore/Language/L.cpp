#include "L.h"

#include "StringTable.h"

#include <mutex>

namespace vardel::L {

namespace {

    // The process-wide language; only touched under its mutex.
    std::mutex& languageMutex()
    {
        static std::mutex mutex;
        return mutex;
    }

    AppLanguage& currentLanguage()
    {
        static AppLanguage language = AppLanguage::en;
        return language;
    }

    std::vector<std::string_view> views(const std::vector<std::string>& args)
    {
        return { args.begin(), args.end() };
    }

} // namespace

std::string format(std::string_view text, std::span<const std::string_view> args)
{
    static constexpr std::string_view placeholder = "%@";
    std::string result;
    result.reserve(text.size() + 16);
    std::size_t index = 0;
    for (;;) {
        auto found = text.find(placeholder);
        if (found == std::string_view::npos) {
            result.append(text);
            return result;
        }
        result.append(text.substr(0, found));
        if (index < args.size())
            result.append(args[index]);
        ++index;
        text.remove_prefix(found + placeholder.size());
    }
}

std::string t(K key, AppLanguage language, std::initializer_list<std::string_view> args)
{
    return format(StringTable::builtIn().text(key, language), std::span(args.begin(), args.size()));
}

std::string t(K key, AppLanguage language, const std::vector<std::string>& args)
{
    return format(StringTable::builtIn().text(key, language), views(args));
}

std::string t(K key, std::initializer_list<std::string_view> args) { return t(key, language(), args); }

std::string t(K key, const std::vector<std::string>& args) { return t(key, language(), args); }

std::map<K, std::string> all(AppLanguage language) { return StringTable::builtIn().all(language); }

AppLanguage language()
{
    std::lock_guard lock(languageMutex());
    return currentLanguage();
}

void setLanguage(AppLanguage language)
{
    std::lock_guard lock(languageMutex());
    currentLanguage() = language;
}

} // namespace vardel::L
