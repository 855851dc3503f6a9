#include "VisionFixtures.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

namespace vardel::test {

namespace {

    const cv::Size kSource(768, 576);
    // The 16:9 band of the street frames that whole-frame samples show, and its size on screen.
    const cv::Rect kBand(0, 72, 768, 432);
    const cv::Size kWhole(1280, 720);
    constexpr PersonDetecting::Focus kPavement { 0.2, 0.3, 0.5, 0.3 };

    using Focus = PersonDetecting::Focus;

    Focus normalized(const cv::Rect2d& r, const cv::Rect2d& within)
    {
        return { (r.x - within.x) / within.width, (r.y - within.y) / within.height, r.width / within.width,
            r.height / within.height };
    }

    bool centreInside(double cx, double cy, const Focus& p)
    {
        return cx >= p.x && cx <= p.x + p.w && cy >= p.y && cy <= p.y + p.h;
    }

    Focus grown(const Focus& f)
    {
        const double x0 = std::max(0.0, f.x - f.w / 4), y0 = std::max(0.0, f.y - f.h / 4);
        const double x1 = std::min(1.0, f.x + f.w * 1.25), y1 = std::min(1.0, f.y + f.h * 1.25);
        return { x0, y0, x1 - x0, y1 - y0 };
    }

    std::map<int, std::vector<cv::Rect2d>> readLabels()
    {
        std::map<int, std::vector<cv::Rect2d>> labels;
        std::ifstream in(std::filesystem::path(VARDEL_TEST_DATA) / "people.csv");
        int frame = 0;
        cv::Rect2d b;
        for (std::string line; std::getline(in, line);)
            if (std::sscanf(line.c_str(), "%d,%lf,%lf,%lf,%lf", &frame, &b.x, &b.y, &b.width, &b.height) == 5)
                labels[frame].push_back(b);
        return labels;
    }

    // Every twentieth frame of vtest.avi (BGR) up to frame 800, by index: decoded once per process and
    // shared; empty when the file is missing.
    const std::map<int, cv::Mat>& vtestFrames()
    {
        static const std::map<int, cv::Mat> frames = [] {
            std::map<int, cv::Mat> read;
            const auto path = exampleFile("vtest.avi");
            cv::VideoCapture video;
            if (path.empty() || !video.open(path.string()))
                return read;
            cv::Mat frame;
            for (int i = 0; i <= 800 && video.grab(); ++i)
                if (i % 20 == 0 && video.retrieve(frame))
                    read.emplace(i, frame.clone());
            return read;
        }();
        return frames;
    }

    // Per-pixel median of those frames, computed once: the street without walkers.
    const cv::Mat& vtestMedian()
    {
        static const cv::Mat median = [] {
            const auto& frames = vtestFrames();
            cv::Mat result(frames.begin()->second.size(), CV_8UC3);
            std::vector<std::uint8_t> values(frames.size());
            for (std::size_t i = 0; i < result.total() * 3; ++i) {
                std::transform(frames.begin(), frames.end(), values.begin(),
                    [&](const auto& frame) { return frame.second.data[i]; });
                std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
                result.data[i] = values[values.size() / 2];
            }
            return result;
        }();
        return median;
    }

} // namespace

std::filesystem::path exampleFile(const std::string& name)
{
    const auto plain = "/usr/share/doc/opencv-doc/examples/data" / std::filesystem::path(name);
    return std::filesystem::exists(plain) ? plain : std::filesystem::path();
}

Frame frameFromBgr(const cv::Mat& bgr, PixelFormat format)
{
    cv::Mat ycrcb, chroma;
    cv::cvtColor(bgr(cv::Rect(0, 0, bgr.cols & ~1, bgr.rows & ~1)), ycrcb, cv::COLOR_BGR2YCrCb);
    cv::resize(ycrcb, chroma, ycrcb.size() / 2, 0, 0, cv::INTER_AREA);
    auto buffer = std::make_shared<FrameBuffer>(ycrcb.cols, ycrcb.rows, format);
    // OpenCV views of the planes: luma, then U and V, or the interleaved U,V pairs.
    std::vector<cv::Mat> planes;
    for (int p = 0; p < buffer->planeCount(); ++p)
        planes.emplace_back(buffer->planeHeight(p), p ? chroma.cols : ycrcb.cols,
            p && format == PixelFormat::nv12 ? CV_8UC2 : CV_8U, buffer->data(p), buffer->stride(p));
    cv::extractChannel(ycrcb, planes[0], 0);
    const int fromTo[] = { 2, 0, 1, 1 }; // Cb to U, Cr to V
    cv::mixChannels(&chroma, 1, planes.data() + 1, planes.size() - 1, fromTo, 2);
    return Frame(buffer, 0);
}

std::vector<Sample> labelledSamples(View view)
{
    const auto labels = readLabels();
    const auto& frames = vtestFrames();
    if (frames.empty() || labels.empty())
        return {};
    const cv::Rect2d whole(0, 0, kSource.width, kSource.height);
    std::vector<Sample> samples;
    std::vector<Focus> foci; // where people were looked for, for the person-free pictures
    for (const auto& [index, people] : labels) {
        const std::string name = "frame " + std::to_string(index);
        const cv::Mat& picture = frames.at(index); // labelled frames are among those read
        if (view == View::focusCrops) {
            const Frame frame = frameFromBgr(picture);
            std::vector<Focus> all;
            for (const auto& box : people)
                all.push_back(normalized(box, whole));
            for (const auto& person : all) {
                samples.push_back({ name, frame, grown(person), all, { person } });
                foci.push_back(grown(person));
            }
        } else {
            cv::Mat band;
            cv::resize(picture(kBand), band, kWhole, 0, 0, cv::INTER_LINEAR);
            std::vector<Focus> inside;
            for (const auto& box : people)
                if (const double cy = box.y + box.height / 2; cy >= kBand.y && cy <= kBand.y + kBand.height)
                    inside.push_back(normalized(box, kBand));
            if (view == View::wholeFrames) {
                samples.push_back({ name, frameFromBgr(band), {}, inside, inside });
                continue;
            }
            std::vector<Focus> wanted;
            std::copy_if(inside.begin(), inside.end(), std::back_inserter(wanted),
                [](const Focus& p) { return centreInside(p.x + p.w / 2, p.y + p.h / 2, kPavement); });
            samples.push_back({ name, frameFromBgr(band), grown(kPavement), inside, wanted });
        }
    }
    if (foci.empty())
        foci.push_back(view == View::watchedArea ? grown(kPavement) : Focus {});
    // Pictures without anybody in them.
    std::vector<std::pair<std::string, cv::Mat>> personFree { { "median", vtestMedian() } };
    for (const char* name : { "building.jpg", "fruits.jpg", "home.jpg", "aero3.jpg" })
        if (const auto path = exampleFile(name); !path.empty())
            personFree.emplace_back(name, cv::imread(path.string()));
    for (const auto& [name, picture] : personFree) {
        cv::Mat scaled;
        cv::resize(picture, scaled, view == View::focusCrops ? kSource : kWhole, 0, 0, cv::INTER_LINEAR);
        const Frame frame = frameFromBgr(scaled);
        if (view != View::focusCrops) {
            samples.push_back({ name, frame, foci[0], {}, {} });
            continue;
        }
        // The street's median at every other focus; the other pictures at a few.
        for (std::size_t i = 0; i < foci.size(); i += name == "median" ? 2 : 24)
            samples.push_back({ name, frame, foci[i], {}, {} });
    }
    return samples;
}

void score(const Sample& sample, const std::vector<PersonBox>& boxes, double minConfidence, Score& total)
{
    const auto inside
        = [](const PersonBox& b, const Focus& p) { return centreInside(b.centerX(), b.centerY(), p); };
    for (const Focus& person : sample.wanted) {
        ++total.people;
        const bool found = std::any_of(boxes.begin(), boxes.end(), [&](const PersonBox& b) {
            return b.confidence >= minConfidence && inside(b, person) && b.w <= 2 * person.w;
        });
        total.found += found;
        if (!found)
            total.misses += sample.name + " missed a person; ";
    }
    for (const PersonBox& b : boxes) {
        if (b.confidence >= minConfidence
            && std::none_of(
                sample.people.begin(), sample.people.end(), [&](const Focus& p) { return inside(b, p); })) {
            ++total.misplaced;
            total.misses += sample.name + " misplaced box; ";
        }
    }
}

} // namespace vardel::test
