#pragma once

#include <cstddef>
#include <deque>
#include <limits>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace vardel {

// Pre-roll and post-roll timing of event clips, independent of what a sample is. While idle it keeps a
// ring of recent samples; `trigger` turns the ring into writes and opens a clip that ends `post` seconds
// after the event. Every call answers with the actions the owner must carry out, in order; `begin` and
// `finish` strictly alternate. Not thread-safe: the owner calls it from one queue. Times are seconds.
template <typename Sample> class ClipWindow {
public:
    struct Begin {
        double event = 0;
        bool operator==(const Begin&) const = default;
    };
    struct Write {
        double time = 0;
        Sample sample;
        bool operator==(const Write&) const = default;
    };
    struct Finish {
        bool operator==(const Finish&) const = default;
    };
    using Action = std::variant<Begin, Write, Finish>;
    using Actions = std::vector<Action>;

    struct Entry {
        double t = 0;
        Sample sample;
    };

    ClipWindow(double preSeconds, double postSeconds)
        : pre(preSeconds)
        , post(postSeconds)
    {
    }

    // May be changed between calls; the owner applies settings through them.
    double pre;
    double post;
    double grace = 3.0;
    std::size_t maxBuffered = 150;

    bool isRecording() const { return m_end.has_value(); }
    std::optional<double> end() const { return m_end; }
    double lastWritten() const { return m_lastWritten; }
    const std::deque<Entry>& buffered() const { return m_buffered; }

    Actions append(Sample sample, double t);
    Actions trigger(double t);
    Actions tick(double now);
    Actions stop();

private:
    void keep(Sample sample, double t);
    Actions close();

    static constexpr double kNever = -std::numeric_limits<double>::infinity();

    std::deque<Entry> m_buffered;
    std::optional<double> m_end;
    double m_lastWritten = kNever;
};

template <typename Sample> void ClipWindow<Sample>::keep(Sample sample, double t)
{
    m_buffered.push_back({ t, std::move(sample) });
    const double oldest = t - pre;
    if (m_buffered.front().t < oldest) {
        std::erase_if(m_buffered, [oldest](const Entry& entry) { return entry.t < oldest; });
    }
    while (m_buffered.size() > maxBuffered)
        m_buffered.pop_front();
}

template <typename Sample> typename ClipWindow<Sample>::Actions ClipWindow<Sample>::close()
{
    m_end.reset();
    m_lastWritten = kNever;
    return { Finish {} };
}

template <typename Sample>
typename ClipWindow<Sample>::Actions ClipWindow<Sample>::append(Sample sample, double t)
{
    if (!m_end) {
        keep(std::move(sample), t);
        return {};
    }
    if (t > *m_end) {
        // The first sample past the end closes the clip and starts the next clip's pre-roll.
        auto actions = close();
        keep(std::move(sample), t);
        return actions;
    }
    if (t > m_lastWritten) {
        m_lastWritten = t;
        return { Write { t, std::move(sample) } };
    }
    return {}; // out of order or a duplicate time
}

template <typename Sample> typename ClipWindow<Sample>::Actions ClipWindow<Sample>::trigger(double t)
{
    if (m_end)
        return {}; // an event during a clip neither extends nor restarts it
    m_end = t + post;
    Actions actions { Begin { t } };
    for (auto& entry : m_buffered) {
        if (entry.t >= t - pre && entry.t <= *m_end && entry.t > m_lastWritten) {
            m_lastWritten = entry.t;
            actions.push_back(Write { entry.t, std::move(entry.sample) });
        }
    }
    m_buffered.clear();
    return actions;
}

template <typename Sample> typename ClipWindow<Sample>::Actions ClipWindow<Sample>::tick(double now)
{
    if (m_end && *m_end + grace < now)
        return close();
    return {};
}

template <typename Sample> typename ClipWindow<Sample>::Actions ClipWindow<Sample>::stop()
{
    m_buffered.clear();
    if (m_end)
        return close();
    return {};
}

} // namespace vardel
