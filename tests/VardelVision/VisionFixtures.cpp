#include "VisionFixtures.h"

#include "VisionPersonDetector.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace vardel::test {

namespace {

    const std::filesystem::path kExamples = "/usr/share/doc/opencv-doc/examples/data";

    std::filesystem::path scratchFolder()
    {
        static const std::filesystem::path folder = [] {
            auto path
                = std::filesystem::temp_directory_path() / ("vardel-vision-" + std::to_string(getpid()));
            std::filesystem::create_directories(path);
            return path;
        }();
        return folder;
    }

} // namespace

std::filesystem::path exampleFile(const std::string& name)
{
    const auto plain = kExamples / name;
    if (std::filesystem::exists(plain))
        return plain;
    const auto packed = kExamples / (name + ".gz");
    if (!std::filesystem::exists(packed))
        return {};
    const auto unpacked = scratchFolder() / name;
    if (!std::filesystem::exists(unpacked)) {
        const std::string command = "gzip -dc '" + packed.string() + "' > '" + unpacked.string() + "'";
        if (std::system(command.c_str()) != 0)
            return {};
    }
    return unpacked;
}

std::filesystem::path installedFaceModel()
{
    return std::filesystem::path(VisionPersonDetector::kInstalledModels)
        / VisionPersonDetector::kFaceModelName;
}

std::filesystem::path sharedPersonModel()
{
    const std::filesystem::path path
        = std::filesystem::path(VARDEL_SHARED_MODELS) / "nanodet-m-320-coco.onnx";
    return std::filesystem::exists(path) ? path : std::filesystem::path();
}

Frame frameFromBgr(const cv::Mat& bgr, PixelFormat format)
{
    const cv::Mat even = bgr(cv::Rect(0, 0, bgr.cols & ~1, bgr.rows & ~1));
    cv::Mat yuv;
    cv::cvtColor(even, yuv, cv::COLOR_BGR2YUV_I420);
    const int w = even.cols;
    const int h = even.rows;
    auto buffer = std::make_shared<FrameBuffer>(w, h, format);
    const std::uint8_t* y = yuv.data;
    const std::uint8_t* u = y + w * h;
    const std::uint8_t* v = u + w * h / 4;
    for (int row = 0; row < h; ++row)
        std::memcpy(buffer->data(0) + row * buffer->stride(0), y + row * w, w);
    for (int row = 0; row < h / 2; ++row) {
        if (format == PixelFormat::i420) {
            std::memcpy(buffer->data(1) + row * buffer->stride(1), u + row * w / 2, w / 2);
            std::memcpy(buffer->data(2) + row * buffer->stride(2), v + row * w / 2, w / 2);
        } else {
            std::uint8_t* uv = buffer->data(1) + row * buffer->stride(1);
            for (int col = 0; col < w / 2; ++col) {
                uv[2 * col] = u[row * w / 2 + col];
                uv[2 * col + 1] = v[row * w / 2 + col];
            }
        }
    }
    return Frame(buffer, 0);
}

cv::Mat vtestFrame(int index)
{
    const auto path = exampleFile("vtest.avi");
    if (path.empty())
        return {};
    cv::VideoCapture video(path.string());
    cv::Mat frame;
    for (int i = 0; i <= index; ++i)
        if (!video.read(frame))
            return {};
    return frame;
}

cv::Mat vtestMedian(int count, int step)
{
    const auto path = exampleFile("vtest.avi");
    if (path.empty())
        return {};
    cv::VideoCapture video(path.string());
    std::vector<cv::Mat> frames;
    cv::Mat frame;
    for (int i = 0; frames.size() < static_cast<std::size_t>(count) && video.read(frame); ++i)
        if (i % step == 0)
            frames.push_back(frame.clone());
    if (frames.empty())
        return {};
    cv::Mat median(frames[0].size(), CV_8UC3);
    std::vector<std::uint8_t> values(frames.size());
    const std::size_t bytes = median.total() * 3;
    for (std::size_t i = 0; i < bytes; ++i) {
        for (std::size_t f = 0; f < frames.size(); ++f)
            values[f] = frames[f].data[i];
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        median.data[i] = values[values.size() / 2];
    }
    return median;
}

} // namespace vardel::test
