// Every checked-in fuzz input, the seeds and the input of each fault a fuzzer found, run once through
// its target: a fault that comes back fails here, in the ordinary suite, without a fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#define FUZZ_TARGET(name) extern "C" int fuzz_##name(const std::uint8_t* data, std::size_t size);
#include "FuzzTargets.inc"
#undef FUZZ_TARGET

static void replay(const std::string& target, int (*run)(const std::uint8_t*, std::size_t))
{
    std::error_code error;
    std::vector<std::filesystem::path> files(
        std::filesystem::directory_iterator(std::filesystem::path(VARDEL_FUZZ_CORPUS) / target, error), {});
    std::sort(files.begin(), files.end());
    // A target without inputs would start its fuzz runs from nothing and guard no fault here.
    EXPECT_FALSE(files.empty()) << target;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        ASSERT_TRUE(in.good() || in.eof()) << file;
        // A broken property aborts inside the target, naming nothing: the file goes out first.
        std::cerr << "replaying " << file.filename().string() << std::endl;
        EXPECT_EQ(run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0) << file;
    }
}

TEST(FuzzReplay, EveryInputOfEveryTargetRunsThrough)
{
#define FUZZ_TARGET(name) replay(#name, fuzz_##name);
#include "FuzzTargets.inc"
#undef FUZZ_TARGET
}
