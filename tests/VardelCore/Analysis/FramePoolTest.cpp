#include "FramePool.h"
#include "Frame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vardel;

TEST(FrameBuffer, PlaneGeometryIncludingOddSizesAndPooledReuse)
{
    FrameBuffer i420(1281, 721, PixelFormat::i420);
    EXPECT_EQ(i420.planeWidth(1), 641);
    EXPECT_EQ(i420.planeHeight(2), 361);
    EXPECT_EQ(i420.stride(0) % 32, 0);
    FrameBuffer nv12(1, 1, PixelFormat::nv12);
    EXPECT_EQ(nv12.planeCount(), 2);
    EXPECT_EQ(nv12.planeWidth(1), 2); // one interleaved U,V pair

    // Planes must not overlap: write the last byte of each plane and read the others back.
    FrameBuffer check(33, 17, PixelFormat::i420);
    const auto last
        = [&](int p) -> std::uint8_t& { return check.data(p)[check.stride(p) * check.planeHeight(p) - 1]; };
    for (int p = 0; p < 3; ++p)
        last(p) = static_cast<std::uint8_t>(p + 1);
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(last(p), p + 1);
    EXPECT_EQ(check.data(1)[0], 0);

    // The pool reuses released buffers of the same shape up to its maximum, even under concurrent use.
    std::shared_ptr<FrameBuffer> outliving;
    {
        FramePool pool(2);
        const std::uint8_t* first = Frame(pool.acquire(640, 360, PixelFormat::nv12), 1).buffer().data(0);
        EXPECT_EQ(pool.acquire(640, 360, PixelFormat::nv12)->data(0), first);
        EXPECT_NE(pool.acquire(640, 360, PixelFormat::i420)->data(0), first);
        std::vector<std::shared_ptr<FrameBuffer>> held;
        for (int i = 0; i < 5; ++i)
            held.push_back(pool.acquire(16, 16, PixelFormat::i420));
        outliving = held[0];
        held.clear();
        EXPECT_EQ(pool.freeCount(), 2u);
        EXPECT_EQ(pool.allocations(), 7u);
    }
    outliving.reset(); // released after the pool is gone: simply freed

    FramePool pool(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
                Frame(pool.acquire(32, 18, PixelFormat::nv12), i);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_LE(pool.allocations(), 8u);
}

// An encoded picture that counts its decodes; a damaged one does not decode.
struct CountingPicture final : EncodedPicture {
    bool damaged = false;
    mutable std::atomic<int> decodes = 0;
    int width() const override { return 64; }
    int height() const override { return 36; }
    PixelFormat format() const override { return PixelFormat::i420; }
    std::size_t encodedSize() const override { return 10; }
    std::shared_ptr<const FrameBuffer> decode() const override
    {
        ++decodes;
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // lets the other threads ask meanwhile
        auto planes = std::make_shared<FrameBuffer>(64, 36, PixelFormat::i420);
        planes->data(0)[0] = 200;
        return damaged ? nullptr : planes;
    }
};

// Decoded once whichever thread asks first; a picture that does not decode has no pixels and reads as
// black; a compressed copy keeps the picture but not the planes decoded so far.
TEST(Frame, EncodedPictureDecodesOnceWhicheverThreadAsksFirst)
{
    for (bool damaged : { false, true }) {
        auto picture = std::make_shared<CountingPicture>();
        picture->damaged = damaged;
        const Frame frame(picture, 5);
        EXPECT_EQ(frame.width(), 64);
        EXPECT_EQ(picture->decodes, 0);
        std::vector<const FrameBuffer*> seen(4);
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < seen.size(); ++t)
            threads.emplace_back([&, t] { seen[t] = Frame(frame).pixels(); });
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(picture->decodes, 1);
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [&](auto* s) { return s == seen[0]; }));
        EXPECT_EQ(seen[0] == nullptr, damaged);
        EXPECT_EQ(frame.luma()[0], damaged ? 0 : 200);
        EXPECT_EQ(frame.buffer().data(2)[0], damaged ? 128 : 0);
        EXPECT_EQ(frame.compressed().pixels() == seen[0], damaged);
        EXPECT_EQ(picture->decodes, 2);
    }
}
