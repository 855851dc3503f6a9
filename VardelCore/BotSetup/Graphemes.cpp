#include "Graphemes.h"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/utext.h>

namespace vardel {

std::string graphemePrefix(const std::string& text, int count)
{
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<icu::BreakIterator> graphemes(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !graphemes) {
        utext_close(utext);
        return text.substr(0, static_cast<std::size_t>(count)); // no ICU data: bytes are the best guess
    }
    graphemes->setText(utext, status);
    int32_t end = graphemes->first();
    for (int i = 0; i < count && end != icu::BreakIterator::DONE; ++i) {
        int32_t next = graphemes->next();
        if (next == icu::BreakIterator::DONE)
            break;
        end = next;
    }
    graphemes.reset();
    utext_close(utext);
    return text.substr(0, static_cast<std::size_t>(end));
}

} // namespace vardel
