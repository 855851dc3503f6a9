#include "Captions.h"

#include "Brand.h"
#include "L.h"

#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace vardel::Captions {

namespace {

    constexpr std::array<std::string_view, 4> kSkeletons = { "jmm", "jmmss", "yMdjmmss", "MMMdjmm" };
    constexpr std::string_view kLogPattern = "yyyy-MM-dd HH:mm:ss";
    constexpr std::string_view kLogLocale = "en_US_POSIX";

    icu::UnicodeString unicode(std::string_view text)
    {
        return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    }

    icu::Locale localeOf(AppLanguage language) { return icu::Locale(std::string(language.locale()).c_str()); }

    // The locale's best pattern for a skeleton; empty when ICU has no answer.
    icu::UnicodeString resolvePattern(std::string_view skeleton, AppLanguage language)
    {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::DateTimePatternGenerator> generator(
            icu::DateTimePatternGenerator::createInstance(localeOf(language), status));
        if (U_FAILURE(status) || !generator)
            return {};
        icu::UnicodeString pattern = generator->getBestPattern(unicode(skeleton), status);
        return U_FAILURE(status) ? icu::UnicodeString() : pattern;
    }

    // Patterns of the fixed skeletons are resolved once per process: building a pattern generator costs
    // far more than formatting, and the locale data behind it never changes while we run.
    icu::UnicodeString patternFor(std::string_view skeleton, AppLanguage language)
    {
        using Row = std::array<icu::UnicodeString, kSkeletons.size()>;
        static const std::array<Row, 3> resolved = [] {
            std::array<Row, 3> table;
            for (AppLanguage each : AppLanguage::allCases()) {
                for (std::size_t i = 0; i < kSkeletons.size(); ++i)
                    table[static_cast<std::size_t>(each.value())][i] = resolvePattern(kSkeletons[i], each);
            }
            return table;
        }();
        for (std::size_t i = 0; i < kSkeletons.size(); ++i) {
            if (kSkeletons[i] == skeleton)
                return resolved[static_cast<std::size_t>(language.value())][i];
        }
        return resolvePattern(skeleton, language);
    }

    // ICU formatters are not safe to share between threads, so each thread keeps its own, keyed by locale
    // and pattern. The zone is set on every use, so a cached formatter gives what a fresh one would.
    icu::SimpleDateFormat* formatterFor(const icu::UnicodeString& pattern, std::string_view localeId)
    {
        struct Entry {
            std::string localeId;
            icu::UnicodeString pattern;
            std::unique_ptr<icu::SimpleDateFormat> formatter;
        };
        static constexpr std::size_t kMaxEntries = 32;
        thread_local std::vector<Entry> cache;
        for (Entry& entry : cache) {
            if (entry.localeId == localeId && entry.pattern == pattern)
                return entry.formatter.get();
        }
        UErrorCode status = U_ZERO_ERROR;
        auto formatter = std::make_unique<icu::SimpleDateFormat>(
            pattern, icu::Locale(std::string(localeId).c_str()), status);
        if (U_FAILURE(status))
            return nullptr;
        if (cache.size() >= kMaxEntries)
            cache.clear();
        cache.push_back({ std::string(localeId), pattern, std::move(formatter) });
        return cache.back().formatter.get();
    }

    // The named IANA zone, or the host's current zone (read again on every call, so a change of the
    // system zone shows in the next text).
    icu::TimeZone* zoneFor(std::string_view zone)
    {
        if (!zone.empty())
            return icu::TimeZone::createTimeZone(unicode(zone));
        // Host detection clears and refills a process-wide buffer inside ICU (the name read from
        // /etc/localtime), so concurrent callers on different queues must take turns.
        static std::mutex hostZoneMutex;
        std::lock_guard lock(hostZoneMutex);
        return icu::TimeZone::detectHostTimeZone();
    }

    std::string formatDate(
        double date, const icu::UnicodeString& pattern, std::string_view localeId, std::string_view zone)
    {
        if (!std::isfinite(date) || pattern.isEmpty())
            return {};
        icu::SimpleDateFormat* formatter = formatterFor(pattern, localeId);
        icu::TimeZone* timeZone = zoneFor(zone);
        if (!formatter || !timeZone) {
            delete timeZone;
            return {};
        }
        formatter->adoptTimeZone(timeZone);
        icu::UnicodeString text;
        formatter->format(static_cast<UDate>(date * 1000.0), text);
        std::string result;
        text.toUTF8String(result);
        return result;
    }

    std::string formatSkeleton(
        std::string_view skeleton, double date, AppLanguage language, std::string_view zone)
    {
        return formatDate(date, patternFor(skeleton, language), language.locale(), zone);
    }

    K captionKey(EventKind kind)
    {
        switch (kind) {
        case EventKind::person:
            return K::tgPhotoPerson;
        case EventKind::unconfirmedMotion:
            return K::tgPhotoUnconfirmed;
        case EventKind::motion:
            break;
        }
        return K::tgPhotoMotion;
    }

    // level × 100 rounded half away from zero; "?" for a level that is not a number.
    std::string percent(double level)
    {
        double value = std::round(level * 100.0);
        if (!std::isfinite(value))
            return "?";
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.0f", value + 0.0); // + 0.0 turns -0 into 0
        return buffer;
    }

} // namespace

std::string hourMinute(double date, AppLanguage language, std::string_view zone)
{
    return formatSkeleton("jmm", date, language, zone);
}

std::string time(double date, AppLanguage language, std::string_view zone)
{
    return formatSkeleton("jmmss", date, language, zone);
}

std::string full(double date, AppLanguage language, std::string_view zone)
{
    return formatSkeleton("yMdjmmss", date, language, zone);
}

std::string dayTime(double date, AppLanguage language, std::string_view zone)
{
    return formatSkeleton("MMMdjmm", date, language, zone);
}

std::string fmt(
    std::string_view skeleton, double date, std::optional<AppLanguage> language, std::string_view zone)
{
    return formatSkeleton(skeleton, date, language.value_or(L::language()), zone);
}

std::string logStamp(double date, std::string_view zone)
{
    static const icu::UnicodeString pattern = unicode(kLogPattern);
    return formatDate(date, pattern, kLogLocale, zone);
}

std::string alert(EventKind kind, double at, std::string_view zone)
{
    AppLanguage language = L::language();
    return L::t(captionKey(kind), language, { hourMinute(at, language, zone) });
}

std::string clip(double at, std::string_view zone)
{
    AppLanguage language = L::language();
    return L::t(K::tgVideo, language, { hourMinute(at, language, zone) });
}

std::string clipFailed(double at, std::string_view zone)
{
    AppLanguage language = L::language();
    return L::t(K::tgVideoFailed, language, { hourMinute(at, language, zone) });
}

std::string withoutPhoto(std::string_view caption)
{
    std::string text(caption);
    text += '\n';
    text += L::t(K::tgNoPhoto);
    return text;
}

std::string brandAndTime(K key, double now, std::string_view zone)
{
    AppLanguage language = L::language();
    return L::t(key, language, { Brand::name, hourMinute(now, language, zone) });
}

std::string diagnostics(
    EventKind kind, double at, double level, std::optional<bool> screenLocked, std::string_view zone)
{
    std::string line = "event ";
    line += rawValue(kind);
    line += " at ";
    line += logStamp(at, zone);
    line += " area=";
    line += percent(level);
    line += "% screen_locked=";
    line += screenLocked ? (*screenLocked ? "yes" : "no") : "?";
    return line;
}

} // namespace vardel::Captions
