#pragma once

#include "AppLanguage.h"
#include "EventKind.h"
#include "K.h"

#include <optional>
#include <string>
#include <string_view>

namespace vardel {

// Time texts and alert captions. Dates are seconds since 1970. Times are formatted from CLDR skeletons
// in the language's locale ("j" = the locale's own hour cycle: 12-hour with a day period for en_US,
// 24-hour for pt_BR and es_ES) and in the system's current time zone, unless `zone` names an IANA zone.
// Pure apart from reading the current language and the host's zone; callable from any thread.
namespace Captions {

    // "jmm": every alert text, status line, context line and notice that shows a time.
    std::string hourMinute(double date, AppLanguage language, std::string_view zone = {});
    // "jmmss": the stamp on alert photos and the person chip.
    std::string time(double date, AppLanguage language, std::string_view zone = {});
    // "yMdjmmss": the stamp on every frame of a clip.
    std::string full(double date, AppLanguage language, std::string_view zone = {});
    // "MMMdjmm": the context line of the last alert.
    std::string dayTime(double date, AppLanguage language, std::string_view zone = {});
    // Any CLDR skeleton, in `language` or, when none is given, the current language.
    std::string fmt(std::string_view skeleton, double date,
        std::optional<AppLanguage> language = std::nullopt, std::string_view zone = {});

    // "yyyy-MM-dd HH:mm:ss" in en_US_POSIX: the same in every language.
    std::string logStamp(double date, std::string_view zone = {});

    // The photo caption of an event, in the current language ("Person detected · 2:05 PM").
    std::string alert(EventKind kind, double at, std::string_view zone = {});
    // The caption of an event's clip ("Video · 2:05 PM").
    std::string clip(double at, std::string_view zone = {});
    // Sent instead of the clip when none could be written.
    std::string clipFailed(double at, std::string_view zone = {});
    // A caption followed by a line break and the "no photo" note, sent as text when the photo is lost.
    std::string withoutPhoto(std::string_view caption);
    // `key` with the brand name and the hour and minute of `now` (protection on/off, camera back or
    // (dis)connected, test alert), the language taken once.
    std::string brandAndTime(K key, double now, std::string_view zone = {});

    // One log line per event: "event person at 2025-03-01 14:05:09 area=7% screen_locked=no".
    // `level` is the changed fraction of the watched area; `screenLocked` absent means unknown ("?").
    std::string diagnostics(EventKind kind, double at, double level, std::optional<bool> screenLocked,
        std::string_view zone = {});

} // namespace Captions

} // namespace vardel
