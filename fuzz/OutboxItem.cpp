// An outbox item file, which an older version or a crash in the middle of a write may have left: one
// step of the alert queue either sends it or moves it aside, and never throws or leaves it blocking
// the items behind it.
#include "AlertQueue.h"
#include "FuzzSupport.h"

#include <memory>

namespace {

struct AcceptingTransport final : vardel::AlertTransport {
    void send(const vardel::QueueJob&) override { }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    static const std::filesystem::path folder = [] {
        auto path = fuzz::scratchFolder() / "outbox";
        std::filesystem::create_directories(path);
        return path;
    }();
    fuzz::writeFile(folder / "1700000000000000000-photo.json", fuzz::text(data, size));

    auto outbox = std::make_shared<Outbox>(folder);
    AlertQueue queue(outbox, std::make_shared<AcceptingTransport>());
    const AlertQueue::Step step = queue.step();
    fuzz::require(step.kind == AlertQueue::Step::Kind::sent || step.kind == AlertQueue::Step::Kind::discarded,
        "an item is neither sent nor discarded");
    fuzz::require(outbox->pending().empty(), "an item stays in the outbox after its step");

    std::error_code ignored;
    std::filesystem::remove_all(queue.failedDirectory(), ignored);
    return 0;
}
