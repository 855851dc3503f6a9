#include "VisionPersonDetector.h"

#include "BlazeFaceDecoder.h"
#include "NanoDetDecoder.h"
#include "PersonGate.h"

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>
#include <syslog.h>
#include <unistd.h>

namespace vardel {

namespace {

    // HOG crops are scaled so that people fill its 128-pixel window at room distances without wasting
    // time on huge crops; very wide crops are capped in width instead.
    constexpr int kMinHeight = 200;
    constexpr int kMaxHeight = 480;
    constexpr int kMaxWidth = 960;

    // HOG settings measured on street and room footage (see the design notes).
    const cv::Size kHogStride(8, 8);
    const cv::Size kHogPadding(8, 8);
    constexpr double kHogScale = 1.05;
    constexpr int kHogGroupThreshold = 2;

    // A crop is widened (or heightened) inside the frame to at least this shape, so that a person at the
    // edge of a thin area is seen whole: width / height between 1:2 (one standing person) and 3:1.
    constexpr double kMinAspect = 1.0;
    constexpr double kMaxAspect = 3.0;
    // Least side of the network's crop in frame pixels: a tiny crop blown up to its input loses the
    // surroundings that tell a person from a post. (HOG scales crops by their height instead.)
    constexpr int kMinNetworkSide = 160;
    // Body boxes less tall than this, in frame pixels, are specks of texture, not people.
    constexpr double kMinBodyHeight = 16;

    // A box much taller than wide is a whole person: its top half is the upper body.
    constexpr double kWholePersonAspect = 1.8;

    const cv::Scalar kNanoDetMean(103.53, 116.28, 123.675);
    const cv::Scalar kNanoDetStd(57.375, 57.12, 58.395);

    // Even pixel bounds of the focus inside the frame (4:2:0 chroma covers 2 x 2 pixels); the whole frame
    // for a focus that is not finite or too small to show anyone.
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
        if (right - left < 16 || bottom - top < 16)
            return { 0, 0, evenW, evenH };
        return { left, top, right - left, bottom - top };
    }

    // Grows one side of [start, start + length) to `wanted` around its middle, kept inside [0, limit)
    // and even.
    void growSpan(int& start, int& length, int wanted, int limit)
    {
        wanted = std::min((wanted + 1) & ~1, limit);
        if (wanted <= length)
            return;
        start = std::clamp((start + length / 2 - wanted / 2) & ~1, 0, limit - wanted);
        length = wanted;
    }

    cv::Rect personShaped(cv::Rect area, int width, int height, int minSide)
    {
        growSpan(area.x, area.width, minSide, width & ~1);
        growSpan(area.y, area.height, minSide, height & ~1);
        growSpan(area.x, area.width, static_cast<int>(std::ceil(area.height * kMinAspect)), width & ~1);
        growSpan(area.y, area.height, static_cast<int>(std::ceil(area.width / kMaxAspect)), height & ~1);
        return area;
    }

    // The focus area as a BGR picture. Frames carry full-range luma and chroma (BT.601), which is
    // OpenCV's YCrCb; its 4:2:0 conversions would read them as limited range and wash the picture out.
    cv::Mat bgrCrop(const Frame& frame, const cv::Rect& area)
    {
        const FrameBuffer& buffer = frame.buffer();
        const auto plane = [&](int index, int x, int y, int rows, int cols, int type) {
            auto* data = const_cast<std::uint8_t*>(buffer.data(index))
                + static_cast<std::ptrdiff_t>(y) * buffer.stride(index) + x;
            return cv::Mat(rows, cols, type, data, buffer.stride(index));
        };
        const int w = area.width;
        const int h = area.height;
        std::vector<cv::Mat> channels(3);
        channels[0] = plane(0, area.x, area.y, h, w, CV_8UC1);
        cv::Mat u, v;
        if (frame.format() == PixelFormat::nv12) {
            std::vector<cv::Mat> uv;
            cv::split(plane(1, area.x, area.y / 2, h / 2, w / 2, CV_8UC2), uv);
            u = uv[0];
            v = uv[1];
        } else {
            u = plane(1, area.x / 2, area.y / 2, h / 2, w / 2, CV_8UC1);
            v = plane(2, area.x / 2, area.y / 2, h / 2, w / 2, CV_8UC1);
        }
        cv::resize(v, channels[1], cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
        cv::resize(u, channels[2], cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
        cv::Mat ycrcb, bgr;
        cv::merge(channels, ycrcb);
        cv::cvtColor(ycrcb, bgr, cv::COLOR_YCrCb2BGR);
        return bgr;
    }

    // The image scaled whole into a size x size square, centred on black. Keeps the scale used and the
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

    using Found = std::vector<std::pair<cv::Rect2d, double>>;

    std::filesystem::path firstExisting(
        const std::vector<std::filesystem::path>& folders, const std::string& name)
    {
        std::error_code ignored;
        for (const auto& folder : folders)
            if (std::filesystem::is_regular_file(folder / name, ignored))
                return folder / name;
        return {};
    }

} // namespace

struct VisionPersonDetector::Engine {
    std::optional<cv::dnn::Net> face;
    std::optional<cv::dnn::Net> person;
    std::vector<cv::String> faceOutputs;
    std::vector<cv::String> personOutputs;
    cv::HOGDescriptor hog;
    BlazeFaceDecoder faceDecoder;
    NanoDetDecoder personDecoder { PersonGate::kMinConfidence };
    std::vector<std::string> problems;

    explicit Engine(const Models& models)
    {
        face = tryLoad(models.face, {}, faceOutputs, "modelo de rosto", "sem rostos");
        person = tryLoad(models.person, models.personSha256, personOutputs, "modelo de corpo", "usando HOG");
        if (!person)
            hog.setSVMDetector(cv::HOGDescriptor::getDefaultPeopleDetector());
    }

    std::optional<cv::dnn::Net> tryLoad(const std::filesystem::path& path, const std::string& sha,
        std::vector<cv::String>& outputs, const std::string& what, const std::string& consequence)
    {
        std::string why;
        try {
            std::error_code ignored;
            if (path.empty() || !std::filesystem::is_regular_file(path, ignored)) {
                why = "arquivo ausente";
            } else if (!sha.empty() && sha256(path) != sha) {
                why = "soma sha256 não confere";
            } else {
                cv::dnn::Net net = cv::dnn::readNetFromONNX(path.string());
                if (net.empty())
                    throw std::runtime_error("arquivo ilegível");
                net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
                net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
                outputs = net.getUnconnectedOutLayersNames();
                return net;
            }
        } catch (const cv::Exception& e) {
            why = e.err;
        } catch (const std::exception& e) {
            why = e.what();
        }
        problems.push_back(
            "detector: " + what + " não carregou (" + path.string() + ": " + why + "), " + consequence);
        return std::nullopt;
    }

    // Bodies in crop pixels.
    Found bodies(const cv::Mat& crop)
    {
        Found found;
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
                found.emplace_back(upperBody(r), d.score);
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
        // Too small for the window: padded on the right and bottom, which leaves coordinates as they are.
        if (scaled.cols < hog.winSize.width || scaled.rows < hog.winSize.height) {
            cv::copyMakeBorder(scaled, scaled, 0, std::max(0, hog.winSize.height - scaled.rows), 0,
                std::max(0, hog.winSize.width - scaled.cols), cv::BORDER_CONSTANT, cv::Scalar::all(0));
        }
        std::vector<cv::Rect> rects;
        std::vector<double> weights;
        hog.detectMultiScale(
            scaled, rects, weights, 0, kHogStride, kHogPadding, kHogScale, kHogGroupThreshold);
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const double confidence = hogConfidence(i < weights.size() ? weights[i] : 0);
            if (!(confidence >= PersonGate::kMinConfidence))
                continue;
            const cv::Rect2d r(
                rects[i].x / scale, rects[i].y / scale, rects[i].width / scale, rects[i].height / scale);
            found.emplace_back(upperBody(r), confidence);
        }
        return found;
    }

    // Faces in crop pixels.
    Found faces(const cv::Mat& crop)
    {
        if (!face)
            return {};
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
        Found found;
        const double size = BlazeFaceDecoder::kInputSize;
        for (const auto& f : faceDecoder.decode(outputs)) {
            found.emplace_back(cv::Rect2d((f.box.x * size - box.offset.x) / box.scale,
                                   (f.box.y * size - box.offset.y) / box.scale, f.box.width * size / box.scale,
                                   f.box.height * size / box.scale),
                f.score);
        }
        return found;
    }
};

std::vector<std::filesystem::path> VisionPersonDetector::modelFolders()
{
    std::vector<std::filesystem::path> folders;
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        folders.push_back(executable.parent_path().parent_path() / "share" / "brisko" / "models");
    folders.emplace_back(kInstalledModels);
    folders.emplace_back(VARDEL_MODELS_SOURCE_DIR);
    return folders;
}

VisionPersonDetector::Models VisionPersonDetector::findModels(const std::filesystem::path& dataFolder,
    const std::filesystem::path& personModel, const std::vector<std::filesystem::path>& folders)
{
    std::error_code ignored;
    Models models;
    std::vector<std::filesystem::path> faceFolders = folders;
    if (!dataFolder.empty())
        faceFolders.insert(faceFolders.begin(), dataFolder / "models");
    models.face = firstExisting(faceFolders, kFaceModelName);
    const std::filesystem::path ownPerson = dataFolder / "models" / kPersonModelName;
    if (!personModel.empty() && std::filesystem::is_regular_file(personModel, ignored)) {
        models.person = personModel;
    } else if (!dataFolder.empty() && std::filesystem::is_regular_file(ownPerson, ignored)) {
        models.person = ownPerson;
    } else {
        models.person = firstExisting(folders, kBodyModelName);
        models.personSha256 = kBodyModelSha256;
    }
    return models;
}

std::string VisionPersonDetector::sha256(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return {};
    std::vector<char> chunk(1 << 16);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (in.gcount() > 0 && EVP_DigestUpdate(context.get(), chunk.data(), in.gcount()) != 1)
            return {};
    }
    if (in.bad())
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

VisionPersonDetector::VisionPersonDetector(Models models, NoticeHandler onNotice)
    : m_models(std::move(models))
    , m_onNotice(std::move(onNotice))
{
}

VisionPersonDetector::~VisionPersonDetector() = default;

std::string VisionPersonDetector::loadError() const
{
    std::lock_guard lock(m_statusLock);
    return m_loadError;
}

bool VisionPersonDetector::usesBodyNetwork() const
{
    std::lock_guard lock(m_statusLock);
    return m_bodyNetwork;
}

void VisionPersonDetector::prepare()
{
    if (m_engine)
        return;
    try {
        m_engine = std::make_unique<Engine>(m_models);
    } catch (const std::exception& e) {
        // Only HOG's built-in detector is left to fail here; nothing can be found without it.
        m_engine.reset();
        std::lock_guard lock(m_statusLock);
        m_loadError = e.what();
        return;
    }
    std::string problems;
    for (const std::string& problem : m_engine->problems)
        problems += (problems.empty() ? "" : "; ") + problem;
    {
        std::lock_guard lock(m_statusLock);
        m_loadError = problems;
        m_bodyNetwork = m_engine->person.has_value();
    }
    if (!problems.empty()) {
        ::syslog(LOG_WARNING, "Vardel: %s", problems.c_str());
        if (m_onNotice)
            m_onNotice(problems);
    }
}

std::vector<PersonBox> VisionPersonDetector::people(const Frame& frame, const Focus& focus)
{
    if (frame.empty() || frame.width() < 2 || frame.height() < 2)
        return {};
    try {
        prepare();
        if (!m_engine)
            return {};
        const int width = frame.width();
        const int height = frame.height();
        const cv::Rect area = personShaped(focusPixels(focus, width, height), width, height,
            m_engine->person ? kMinNetworkSide : 0);
        const cv::Mat crop = bgrCrop(frame, area);

        // Crop pixels to the whole frame, clamped to the frame rather than to the crop, so that a person
        // standing on the crop's edge keeps the whole box the detector saw.
        std::vector<PersonBox> result;
        const auto add = [&](const cv::Rect2d& r, double confidence, bool isFace) {
            const double left = std::clamp(area.x + r.x, 0.0, static_cast<double>(width));
            const double top = std::clamp(area.y + r.y, 0.0, static_cast<double>(height));
            const double right = std::clamp(area.x + r.x + r.width, 0.0, static_cast<double>(width));
            const double bottom = std::clamp(area.y + r.y + r.height, 0.0, static_cast<double>(height));
            if (right > left && bottom > top)
                result.push_back({ left / width, top / height, (right - left) / width, (bottom - top) / height,
                    std::clamp(confidence, 0.0, 1.0), isFace });
        };
        for (const auto& [rect, confidence] : m_engine->bodies(crop))
            if (rect.height >= kMinBodyHeight)
                add(rect, confidence, false);
        for (const auto& [rect, confidence] : m_engine->faces(crop))
            add(rect, confidence, true);
        return result;
    } catch (const cv::Exception&) {
        return {};
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace vardel
