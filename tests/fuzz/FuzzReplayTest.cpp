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

namespace {

struct Target {
    std::string name;
    int (*run)(const std::uint8_t*, std::size_t);
};

// Failure messages name the target, not its bytes.
void PrintTo(const Target& target, std::ostream* out) { *out << target.name; }

const std::vector<Target> kTargets = {
#define FUZZ_TARGET(name) { #name, fuzz_##name },
#include "FuzzTargets.inc"
#undef FUZZ_TARGET
};

class FuzzReplay : public testing::TestWithParam<Target> { };

TEST_P(FuzzReplay, EveryInputRunsThrough)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(VARDEL_FUZZ_CORPUS) / GetParam().name, error))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    // A target without inputs would start its fuzz runs from nothing and guard no fault here.
    EXPECT_FALSE(files.empty());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        ASSERT_TRUE(in.good() || in.eof()) << file;
        // A broken property aborts inside the target, naming nothing: the file goes out first.
        std::cerr << "replaying " << file.filename().string() << std::endl;
        EXPECT_EQ(GetParam().run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0)
            << file;
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzReplay, testing::ValuesIn(kTargets),
    [](const testing::TestParamInfo<Target>& param) { return param.param.name; });

} // namespace
