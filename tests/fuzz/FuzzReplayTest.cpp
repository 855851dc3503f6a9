// Every checked-in fuzz input, the seeds and the input of each fault a fuzzer found, run once through
// its target: a fault that comes back fails here, in the ordinary suite, without a fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define FUZZ_TARGET(name) extern "C" int fuzz_##name(const std::uint8_t* data, std::size_t size);
#include "FuzzTargets.inc"
#undef FUZZ_TARGET

namespace {

namespace fs = std::filesystem;
using Entry = int (*)(const std::uint8_t*, std::size_t);

struct Target {
    std::string name;
    Entry run;
};

const std::vector<Target> kTargets = {
#define FUZZ_TARGET(name) { #name, fuzz_##name },
#include "FuzzTargets.inc"
#undef FUZZ_TARGET
};

struct Input {
    const Target* target;
    fs::path file;
};

std::vector<fs::path> corpus(const std::string& target)
{
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(VARDEL_FUZZ_CORPUS) / target, error)) {
        if (entry.is_regular_file())
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<Input> allInputs()
{
    std::vector<Input> inputs;
    for (const Target& target : kTargets) {
        for (fs::path& file : corpus(target.name))
            inputs.push_back({ &target, std::move(file) });
    }
    return inputs;
}

class FuzzReplay : public testing::TestWithParam<Input> { };

TEST_P(FuzzReplay, RunsThrough)
{
    std::ifstream in(GetParam().file, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    ASSERT_TRUE(in.good() || in.eof());
    // A broken property aborts inside the target; reaching the end is the pass.
    EXPECT_EQ(GetParam().target->run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, FuzzReplay, testing::ValuesIn(allInputs()), [](const testing::TestParamInfo<Input>& param) {
        std::string name = param.param.target->name + "_" + param.param.file.filename().string();
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
            '_');
        return name;
    });

// A target without inputs would start its fuzz runs from nothing and guard no fault here.
TEST(FuzzCorpus, EveryTargetHasInputs)
{
    for (const Target& target : kTargets)
        EXPECT_FALSE(corpus(target.name).empty()) << target.name;
}

} // namespace
