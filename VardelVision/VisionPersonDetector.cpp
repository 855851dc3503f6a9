#include "VisionPersonDetector.h"

#include "BlazeFaceDecoder.h"
#include "NanoDetDecoder.h"

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace vardel {

namespace {

    // The crop is scaled so that people fill HOG's 128-pixel window at room distances without wasting
    // time on huge crops; very wide crops are capped in width instead.
    constexpr int kMinHeight = 200;
    constexpr int kMaxHeight = 480;
    constexpr int kMaxWidth = 960;

    // HOG settings measured on street and room footage (see the design notes).
    const cv::Size kHogStride(8, 8);
    const cv::Size kHogPadding(8, 8);
    constexpr double kHogScale = 1.05;
    constexpr int kHogGroupThreshold = 2;
    constexpr double kMinConfidence = 0.5;

    // A box much taller than wide is a whole person: its top half is the upper body.
    constexpr double kWholePersonAspect = 1.8;

    const cv::Scalar kNanoDetMean(103.53, 116.28, 123.675);
    const cv::Scalar kNanoDetStd(57.375, 57.12, 58.395);

    // Even pixel bounds of the focus inside the frame (4:2:0 chroma covers 2 x 2 pixels); the whole frame
    // for a focus that is not finite or has no area.
    cv::Rect focusPixels(const PersonDetecting::Focus& focus, int width, int height)
    {
        const int evenW = width & ~1;
        const int evenH = height & ~1;
        const bool usable = std::isfinite(focus.x) && std::isfinite(focus.y) && std::isfinite(focus.w)
            && std::isfinite(focus.h) && focus.w > 0 && focus.h > 0;
        if (!usable)
            return { 0, 0, evenW, evenH };
        const auto clampTo
            = [](double v, int limit) { return std::clamp(v, 0.0, static_cast<double>(limit)); };
        const int left = static_cast<int>(std::floor(clampTo(focus.x * width, evenW))) & ~1;
        const int top = static_cast<int>(std::floor(clampTo(focus.y * height, evenH))) & ~1;
        const int right = std::min(
            evenW, (static_cast<int>(std::ceil(clampTo((focus.x + focus.w) * width, evenW))) + 1) & ~1);
        const int bottom = std::min(
            evenH, (static_cast<int>(std::ceil(clampTo((focus.y + focus.h) * height, evenH))) + 1) & ~1);
        // Too small to show anyone: look at the whole frame rather than at nothing.
        if (right - left < 16 || bottom - top < 16)
            return { 0, 0, evenW, evenH };
        return { left, top, right - left, bottom - top };
    }

    // One 4:2:0 to BGR conversion of the focus area only: its planes are packed into the contiguous layout
    // cvtColor expects, then converted.
    cv::Mat bgrCrop(const Frame& frame, const cv::Rect& area)
    {
        const FrameBuffer& buffer = frame.buffer();
        const int w = area.width;
        const int h = area.height;
        cv::Mat packed(h * 3 / 2, w, CV_8UC1);
        std::uint8_t* out = packed.data;
        // Row offsets in std::ptrdiff_t: large frames overflow int arithmetic long before memory runs out.
        const auto row = [&](int plane, int y, int x) {
            return buffer.data(plane) + static_cast<std::ptrdiff_t>(y) * buffer.stride(plane) + x;
        };
        for (int y = 0; y < h; ++y, out += w)
            std::memcpy(out, row(0, area.y + y, area.x), w);
        if (frame.format() == PixelFormat::nv12) {
            for (int y = 0; y < h / 2; ++y, out += w)
                std::memcpy(out, row(1, area.y / 2 + y, area.x), w);
        } else {
            for (int plane = 1; plane <= 2; ++plane)
                for (int y = 0; y < h / 2; ++y, out += w / 2)
                    std::memcpy(out, row(plane, area.y / 2 + y, area.x / 2), w / 2);
        }
        cv::Mat bgr;
        cv::cvtColor(packed, bgr,
            frame.format() == PixelFormat::nv12 ? cv::COLOR_YUV2BGR_NV12 : cv::COLOR_YUV2BGR_I420);
        return bgr;
    }

    // The image scaled whole into a size x size square, centred on black. Returns the scale used and the
    // offset of the picture inside the square.
    struct Letterbox {
        cv::Mat image;
        double scale = 1;
        cv::Point2d offset;
    };

    Letterbox letterbox(const cv::Mat& image, int size)
    {
        Letterbox result;
        result.scale = static_cast<double>(size) / std::max(image.cols, image.rows);
        const int w = std::clamp(static_cast<int>(std::lround(image.cols * result.scale)), 1, size);
        const int h = std::clamp(static_cast<int>(std::lround(image.rows * result.scale)), 1, size);
        const cv::Point offset((size - w) / 2, (size - h) / 2);
        result.offset = offset;
        result.image = cv::Mat::zeros(size, size, image.type());
        cv::Mat target = result.image(cv::Rect(offset, cv::Size(w, h)));
        cv::resize(image, target, target.size(), 0, 0, result.scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
        return result;
    }

    double hogConfidence(double weight) { return 1.0 / (1.0 + std::exp(-2.0 * (weight - 0.5))); }

    cv::Rect2d upperBody(const cv::Rect2d& person)
    {
        if (person.height > kWholePersonAspect * person.width)
            return { person.x, person.y, person.width, person.height / 2 };
        return person;
    }

} // namespace

struct VisionPersonDetector::Engine {
    std::optional<cv::dnn::Net> face;
    std::optional<cv::dnn::Net> person;
    std::vector<cv::String> faceOutputs;
    std::vector<cv::String> personOutputs;
    cv::HOGDescriptor hog;
    BlazeFaceDecoder faceDecoder;
    NanoDetDecoder personDecoder;
    std::string error;

    explicit Engine(const Models& models)
    {
        try {
            face = load(models.face, faceOutputs);
            if (!models.person.empty())
                person = load(models.person, personOutputs);
            else
                hog.setSVMDetector(cv::HOGDescriptor::getDefaultPeopleDetector());
        } catch (const cv::Exception& e) {
            error = e.what();
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (!error.empty()) {
            face.reset();
            person.reset();
        }
    }

    static cv::dnn::Net load(const std::filesystem::path& path, std::vector<cv::String>& outputs)
    {
        if (path.empty() || !std::filesystem::is_regular_file(path))
            throw std::runtime_error("model file missing: " + path.string());
        cv::dnn::Net net = cv::dnn::readNetFromONNX(path.string());
        if (net.empty())
            throw std::runtime_error("model file unreadable: " + path.string());
        net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
        outputs = net.getUnconnectedOutLayersNames();
        return net;
    }

    [[nodiscard]] bool ready() const { return error.empty() && face.has_value(); }

    // Bodies in crop pixels.
    std::vector<std::pair<cv::Rect2d, double>> bodies(const cv::Mat& crop)
    {
        std::vector<std::pair<cv::Rect2d, double>> found;
        if (person) {
            const Letterbox box = letterbox(crop, NanoDetDecoder::kInputSize);
            cv::Mat blob
                = cv::dnn::blobFromImage(box.image, 1.0, cv::Size(), kNanoDetMean, false, false, CV_32F);
            for (int c = 0; c < 3; ++c) {
                cv::Mat plane(
                    NanoDetDecoder::kInputSize, NanoDetDecoder::kInputSize, CV_32F, blob.ptr<float>(0, c));
                plane /= kNanoDetStd[c];
            }
            person->setInput(blob);
            std::vector<cv::Mat> outputs;
            person->forward(outputs, personOutputs);
            for (const auto& d : personDecoder.decode(outputs)) {
                const cv::Rect2d r((d.box.x - box.offset.x) / box.scale, (d.box.y - box.offset.y) / box.scale,
                    d.box.width / box.scale, d.box.height / box.scale);
                found.emplace_back(upperBody(r & cv::Rect2d(0, 0, crop.cols, crop.rows)), d.score);
            }
            return found;
        }

        double scale = std::clamp(crop.rows, kMinHeight, kMaxHeight) / static_cast<double>(crop.rows);
        scale = std::min(scale, kMaxWidth / static_cast<double>(crop.cols));
        cv::Mat scaled;
        if (std::abs(scale - 1) > 1e-3)
            cv::resize(crop, scaled, cv::Size(), scale, scale, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
        else
            scaled = crop;
        if (scaled.cols < hog.winSize.width || scaled.rows < hog.winSize.height)
            return found;
        std::vector<cv::Rect> rects;
        std::vector<double> weights;
        hog.detectMultiScale(
            scaled, rects, weights, 0, kHogStride, kHogPadding, kHogScale, kHogGroupThreshold);
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const double confidence = hogConfidence(i < weights.size() ? weights[i] : 0);
            if (confidence < kMinConfidence)
                continue;
            const cv::Rect2d r(
                rects[i].x / scale, rects[i].y / scale, rects[i].width / scale, rects[i].height / scale);
            found.emplace_back(upperBody(r & cv::Rect2d(0, 0, crop.cols, crop.rows)), confidence);
        }
        return found;
    }

    // Faces in crop pixels.
    std::vector<std::pair<cv::Rect2d, double>> faces(const cv::Mat& crop)
    {
        const Letterbox box = letterbox(crop, BlazeFaceDecoder::kInputSize);
        cv::Mat rgb;
        cv::cvtColor(box.image, rgb, cv::COLOR_BGR2RGB);
        // NHWC 1 x 256 x 256 x 3 in -1...1: exactly the memory of the converted image.
        const int shape[] = { 1, BlazeFaceDecoder::kInputSize, BlazeFaceDecoder::kInputSize, 3 };
        cv::Mat input(4, shape, CV_32F);
        cv::Mat view(BlazeFaceDecoder::kInputSize, BlazeFaceDecoder::kInputSize, CV_32FC3, input.data);
        rgb.convertTo(view, CV_32FC3, 1.0 / 127.5, -1.0);
        face->setInput(input);
        std::vector<cv::Mat> outputs;
        face->forward(outputs, faceOutputs);
        std::vector<std::pair<cv::Rect2d, double>> found;
        const double size = BlazeFaceDecoder::kInputSize;
        for (const auto& f : faceDecoder.decode(outputs)) {
            const cv::Rect2d r((f.box.x * size - box.offset.x) / box.scale,
                (f.box.y * size - box.offset.y) / box.scale, f.box.width * size / box.scale,
                f.box.height * size / box.scale);
            const cv::Rect2d inside = r & cv::Rect2d(0, 0, crop.cols, crop.rows);
            if (inside.area() > 0)
                found.emplace_back(inside, f.score);
        }
        return found;
    }
};

VisionPersonDetector::Models VisionPersonDetector::findModels(const std::filesystem::path& dataFolder,
    const std::filesystem::path& personModel, const std::filesystem::path& installedModels)
{
    std::error_code ignored;
    Models models;
    const std::filesystem::path ownFace = dataFolder / "models" / kFaceModelName;
    models.face = !dataFolder.empty() && std::filesystem::is_regular_file(ownFace, ignored)
        ? ownFace
        : installedModels / kFaceModelName;
    const std::filesystem::path ownPerson = dataFolder / "models" / kPersonModelName;
    if (!personModel.empty() && std::filesystem::is_regular_file(personModel, ignored))
        models.person = personModel;
    else if (!dataFolder.empty() && std::filesystem::is_regular_file(ownPerson, ignored))
        models.person = ownPerson;
    return models;
}

VisionPersonDetector::VisionPersonDetector(Models models)
    : m_models(std::move(models))
{
}

VisionPersonDetector::~VisionPersonDetector() = default;

std::string VisionPersonDetector::loadError() const { return m_engine ? m_engine->error : std::string(); }

std::vector<PersonBox> VisionPersonDetector::people(const Frame& frame, const Focus& focus)
{
    if (frame.empty() || frame.width() < 2 || frame.height() < 2)
        return {};
    try {
        if (!m_engine)
            m_engine = std::make_unique<Engine>(m_models);
        if (!m_engine->ready())
            return {};
        const cv::Rect area = focusPixels(focus, frame.width(), frame.height());
        const cv::Mat crop = bgrCrop(frame, area);
        const auto bodies = m_engine->bodies(crop);
        const auto faces = m_engine->faces(crop);

        std::vector<PersonBox> result;
        const double width = frame.width();
        const double height = frame.height();
        const auto add = [&](const cv::Rect2d& r, double confidence, bool isFace) {
            result.push_back({ (area.x + r.x) / width, (area.y + r.y) / height, r.width / width,
                r.height / height, std::clamp(confidence, 0.0, 1.0), isFace });
        };
        for (const auto& [rect, confidence] : bodies)
            add(rect, confidence, false);
        for (const auto& [rect, confidence] : faces)
            add(rect, confidence, true);
        return result;
    } catch (const cv::Exception&) {
        return {};
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace vardel
