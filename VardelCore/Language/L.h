#pragma once

#include "AppLanguage.h"
#include "K.h"

#include <initializer_list>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardel {

// Lookup of interface, alert and bot texts. The current language is the one process-wide value
// (initially English), read and written under a lock from any thread; tables are immutable, so a
// lookup takes the language once and then works without the lock.
namespace L {

    // The text of `key` in the current language, with `args` put into its "%@" placeholders in order.
    std::string t(K key, std::initializer_list<std::string_view> args = {});
    std::string t(K key, const std::vector<std::string>& args);
    // The same in an explicitly named language.
    std::string t(K key, AppLanguage language, std::initializer_list<std::string_view> args = {});
    std::string t(K key, AppLanguage language, const std::vector<std::string>& args);

    // The whole table of one language, key to text.
    std::map<K, std::string> all(AppLanguage language);

    AppLanguage language();
    // Changes the language of every later lookup; texts already built stay as they are.
    void setLanguage(AppLanguage language);

    // Fills the "%@" placeholders of `text` left to right: missing arguments give empty text,
    // surplus ones are ignored, inserted arguments are never searched again, and any other "%"
    // sequence is ordinary text.
    std::string format(std::string_view text, std::span<const std::string_view> args);

} // namespace L

} // namespace vardel
