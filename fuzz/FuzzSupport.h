#pragma once

#include "FrameBuffer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

// Helpers shared by the fuzz targets. Each target is one file with one LLVMFuzzerTestOneInput; the
// replay test compiles the same files under other names and calls them over the checked-in inputs.
namespace vardel::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size)
{
    return { reinterpret_cast<const char*>(data), size };
}

// Stops the run with a message when a property of the code under test does not hold; the fuzzer
// keeps the input that did it.
inline void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz property failed: %s\n", what);
    std::abort();
}

// A private folder for the files a target writes, made once per process and emptied at exit
// (several fuzzers and the replay test may run at the same time).
inline const std::filesystem::path& scratchFolder()
{
    struct Folder {
        std::filesystem::path path;
        Folder()
        {
            std::string pattern = (std::filesystem::temp_directory_path() / "brisko-fuzz-XXXXXX").string();
            if (!mkdtemp(pattern.data())) {
                std::perror("mkdtemp");
                std::abort();
            }
            path = pattern;
        }
        ~Folder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    return folder.path;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    require(static_cast<bool>(out.flush()), "the input could not be written to the scratch folder");
}

// Where readWhole leaves its sum, so that the reads are not optimised away.
inline volatile unsigned pictureSum = 0;

// Reads every byte of a picture's planes, so that the address checker sees a picture smaller than it
// claims to be.
inline void readWhole(const FrameBuffer& picture)
{
    unsigned sum = 0;
    for (int plane = 0; plane < picture.planeCount(); ++plane) {
        for (int row = 0; row < picture.planeHeight(plane); ++row) {
            const std::uint8_t* line = picture.data(plane) + std::ptrdiff_t(row) * picture.stride(plane);
            for (int column = 0; column < picture.planeWidth(plane); ++column)
                sum += line[column];
        }
    }
    pictureSum = sum;
}

// Once per process, for targets that hand the input to FFmpeg: no log output, and no single allocation
// over 64 MB. A few bytes of header can make a demuxer allocate a table of hundreds of MB that it never
// fills; that costs nothing in the product, but under the address sanitizer a second of shadow-memory
// writes, which would pass for a hang. The product's own pictures and tables stay far below the limit.
inline void prepareFFmpeg()
{
    static const bool done = [] {
        av_log_set_level(AV_LOG_QUIET);
        av_max_alloc(64 << 20);
        return true;
    }();
    (void)done;
}

// Writes the input to `name` in the scratch folder, for code that reads files, and returns its path.
inline std::filesystem::path inputFile(const char* name, std::string_view bytes)
{
    std::filesystem::path path = scratchFolder() / name;
    writeFile(path, bytes);
    return path;
}

} // namespace vardel::fuzz
