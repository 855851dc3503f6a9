#include "Lifecycle.h"

#include "ModeMachine.h"
#include "QueueControl.h"
#include "RecordingControl.h"

#include <memory>
#include <system_error>

namespace vardel {

void Lifecycle::cleanTemporaries(const std::vector<std::filesystem::path>& folders)
{
    namespace fs = std::filesystem;
    for (const auto& folder : folders) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        if (error)
            continue;
        std::vector<fs::path> entries;
        for (; it != fs::directory_iterator(); it.increment(error)) {
            if (error)
                break;
            entries.push_back(it->path());
        }
        for (const auto& entry : entries) {
            std::error_code ignored;
            fs::remove_all(entry, ignored);
        }
    }
}

void Lifecycle::quit(ModeMachine& machine, RecordingControl* recorder, QueueControl* queue,
    std::vector<std::filesystem::path> temporaries, std::function<void()> done)
{
    machine.apply(false, false);

    auto finish = [temporaries = std::move(temporaries), done = std::move(done)]() {
        cleanTemporaries(temporaries);
        if (done)
            done();
    };
    auto flush = [queue, finish = std::move(finish)]() mutable {
        if (queue)
            queue->stopAndFlush(flushTimeout, std::move(finish));
        else
            finish();
    };
    if (recorder)
        recorder->whenIdle(clipTimeout, std::move(flush));
    else
        flush();
}

} // namespace vardel
