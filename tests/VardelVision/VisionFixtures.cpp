#include "VisionFixtures.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace vardel::test {

namespace {

    const std::filesystem::path kExamples = "/usr/share/doc/opencv-doc/examples/data";
    const cv::Size kSource(768, 576);
    // The 16:9 band of the street frames that whole-frame samples show, and its size on screen.
    const cv::Rect kBand(0, 72, 768, 432);
    const cv::Size kWhole(1280, 720);

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
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#')
                continue;
            std::replace(line.begin(), line.end(), ',', ' ');
            std::istringstream fields(line);
            int frame = 0;
            cv::Rect2d box;
            if (fields >> frame >> box.x >> box.y >> box.width >> box.height)
                labels[frame].push_back(box);
        }
        return labels;
    }

    // Example pictures without anybody in them.
    std::vector<std::pair<std::string, cv::Mat>> personFree()
    {
        std::vector<std::pair<std::string, cv::Mat>> pictures { { "median", vtestMedian() } };
        for (const char* name : { "building.jpg", "fruits.jpg", "home.jpg", "aero3.jpg" })
            if (const auto path = exampleFile(name); !path.empty())
                pictures.emplace_back(name, cv::imread(path.string()));
        return pictures;
    }

} // namespace

std::filesystem::path exampleFile(const std::string& name)
{
    const auto plain = kExamples / name;
    return std::filesystem::exists(plain) ? plain : std::filesystem::path();
}

Frame frameFromBgr(const cv::Mat& bgr, PixelFormat format)
{
    const int w = bgr.cols & ~1, h = bgr.rows & ~1;
    cv::Mat ycrcb;
    cv::cvtColor(bgr(cv::Rect(0, 0, w, h)), ycrcb, cv::COLOR_BGR2YCrCb);
    std::vector<cv::Mat> planes;
    cv::split(ycrcb, planes);
    cv::Mat cr, cb;
    cv::resize(planes[1], cr, cv::Size(w / 2, h / 2), 0, 0, cv::INTER_AREA);
    cv::resize(planes[2], cb, cv::Size(w / 2, h / 2), 0, 0, cv::INTER_AREA);
    auto buffer = std::make_shared<FrameBuffer>(w, h, format);
    for (int row = 0; row < h; ++row)
        std::memcpy(buffer->data(0) + row * buffer->stride(0), planes[0].ptr(row), w);
    for (int row = 0; row < h / 2; ++row) {
        for (int col = 0; col < w / 2; ++col) {
            const std::uint8_t u = cb.at<std::uint8_t>(row, col), v = cr.at<std::uint8_t>(row, col);
            if (format == PixelFormat::i420) {
                buffer->data(1)[row * buffer->stride(1) + col] = u;
                buffer->data(2)[row * buffer->stride(2) + col] = v;
            } else {
                buffer->data(1)[row * buffer->stride(1) + 2 * col] = u;
                buffer->data(1)[row * buffer->stride(1) + 2 * col + 1] = v;
            }
        }
    }
    return Frame(buffer, 0);
}

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

cv::Mat vtestMedian()
{
    const auto& frames = vtestFrames();
    if (frames.empty())
        return {};
    cv::Mat median(frames.begin()->second.size(), CV_8UC3);
    std::vector<std::uint8_t> values;
    for (std::size_t i = 0; i < median.total() * 3; ++i) {
        values.clear();
        for (const auto& [index, frame] : frames)
            values.push_back(frame.data[i]);
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        median.data[i] = values[values.size() / 2];
    }
    return median;
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
    for (const auto& [name, picture] : personFree()) {
        cv::Mat scaled;
        cv::resize(picture, scaled, view == View::focusCrops ? kSource : kWhole, 0, 0, cv::INTER_LINEAR);
        const Frame frame = frameFromBgr(scaled);
        if (view != View::focusCrops) {
            samples.push_back({ name, frame, foci[0], {}, {} });
            continue;
        }
        // The street's median at every other focus; the other pictures at a few.
        for (std::size_t i = 0; i < foci.size(); i += name == "median" ? 2 : 12)
            samples.push_back({ name, frame, foci[i], {}, {} });
    }
    return samples;
}

void score(const Sample& sample, const std::vector<PersonBox>& boxes, double minConfidence, Score& total)
{
    const auto inside = [](const PersonBox& b, const Focus& p) { return centreInside(b.centerX(), b.centerY(), p); };
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
            && std::none_of(sample.people.begin(), sample.people.end(), [&](const Focus& p) { return inside(b, p); })) {
            ++total.misplaced;
            total.misses += sample.name + " misplaced box; ";
        }
    }
}

} // namespace vardel::test
