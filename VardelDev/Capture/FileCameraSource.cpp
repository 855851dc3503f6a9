#include "FileCameraSource.h"

#include "AvErrorText.h"
#include "CameraPicture.h"
#include "Error.h"
#include "SerialQueue.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace vardel {

namespace {
    bool isFullRange(const AVFrame& frame)
    {
        switch (frame.format) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
            return true;
        default:
            return frame.color_range == AVCOL_RANGE_JPEG;
        }
    }

    // A converter to 4:2:0 with full-range luma and chroma. The ranges are set before the context is
    // initialised: set afterwards, a 4:2:0 source of the same size keeps libswscale's plain copy, which
    // ignores them and passes limited-range luma (16-235) through as it is.
    SwsContext* rangeConverter(const AVFrame& frame, bool fullRange)
    {
        SwsContext* context = sws_alloc_context();
        if (!context)
            return nullptr;
        const std::pair<const char*, std::int64_t> options[] = { { "srcw", frame.width },
            { "srch", frame.height }, { "src_format", frame.format }, { "dstw", frame.width },
            { "dsth", frame.height }, { "dst_format", AV_PIX_FMT_YUV420P }, { "sws_flags", SWS_BILINEAR },
            { "src_range", fullRange ? 1 : 0 }, { "dst_range", 1 } };
        for (const auto& [name, value] : options) {
            if (av_opt_set_int(context, name, value, 0) < 0) {
                sws_freeContext(context);
                return nullptr;
            }
        }
        if (sws_init_context(context, nullptr, nullptr) < 0) {
            sws_freeContext(context);
            return nullptr;
        }
        const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
        sws_setColorspaceDetails(context, coefficients, fullRange, coefficients, 1, 0, 1 << 16, 1 << 16);
        return context;
    }

    double steadyNow()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    // Consecutive undecodable packets after which the file counts as broken.
    constexpr int kMaxBadPackets = 100;
    // Seconds the playback may run ahead of or behind the file's own clock before it is re-anchored.
    constexpr double kMaxGap = 1.0;
    // The frame durations a file's claimed rate is held to: a file claiming 0.001 frames a second would
    // otherwise be waited on for 1000 s whenever the pace is re-anchored or a picture carries no time.
    constexpr double kShortestFrame = 1.0 / 240;
    constexpr double kLongestFrame = kMaxGap;
}

// Demuxer, decoder and playback clock of one stream.
struct FileCameraSource::Playback {
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* scaler = nullptr;
    int scalerKey[4] = { -1, -1, -1, -1 }; // width, height, pixel format, full range
    int stream = -1;
    AVRational timeBase { 1, 1 };

    double startedAt = 0; // steady clock at presentation time 0
    double loopOffset = 0; // presentation time where the current pass began
    std::optional<double> firstPts; // of the current pass
    double lastTime = 0; // presentation time of the last decoded picture
    double frameDuration = 1.0 / 30;
    int picturesThisPass = 0;
    bool pending = false; // `frame` holds a decoded picture not yet due
    double pendingTime = 0;
    bool draining = false;

    ~Playback()
    {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }

    void open(const std::string& path)
    {
        int result = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
        if (result < 0)
            throw Error(1, path + ": " + avErrorText(result));
        result = avformat_find_stream_info(format, nullptr);
        if (result < 0)
            throw Error(1, path + ": " + avErrorText(result));
        const AVCodec* codec = nullptr;
        stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        if (stream < 0 || !codec)
            throw Error(1, path + ": " + avErrorText(stream < 0 ? stream : AVERROR_DECODER_NOT_FOUND));
        AVStream* video = format->streams[stream];
        timeBase = video->time_base;
        if (video->avg_frame_rate.num > 0 && video->avg_frame_rate.den > 0)
            frameDuration
                = std::clamp(av_q2d(av_inv_q(video->avg_frame_rate)), kShortestFrame, kLongestFrame);
        decoder = avcodec_alloc_context3(codec);
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        if (!decoder || !packet || !frame)
            throw Error(1, path + ": " + avErrorText(AVERROR(ENOMEM)));
        result = avcodec_parameters_to_context(decoder, video->codecpar);
        if (result >= 0)
            result = avcodec_open2(decoder, codec, nullptr);
        if (result < 0)
            throw Error(1, path + ": " + avErrorText(result));
        if (decoder->width <= 0 || decoder->height <= 0)
            throw Error(1, path + ": " + avErrorText(AVERROR_INVALIDDATA));
        startedAt = steadyNow();
    }

    // Decodes the next picture into `frame`, from the start again at the end of the file. Throws
    // vardel::Error when the file cannot be read or holds no decodable picture.
    void decodeNext()
    {
        int badPackets = 0;
        for (;;) {
            int result = avcodec_receive_frame(decoder, frame);
            if (result >= 0) {
                stamp();
                return;
            }
            if (result == AVERROR_EOF || (result == AVERROR(EAGAIN) && draining)) {
                rewind();
                continue;
            }
            if (result != AVERROR(EAGAIN)) {
                // A damaged picture is skipped; a file made only of damaged pictures is broken.
                if (++badPackets > kMaxBadPackets)
                    throw Error(2, avErrorText(result));
                continue;
            }

            result = av_read_frame(format, packet);
            if (result == AVERROR_EOF) {
                draining = true;
                avcodec_send_packet(decoder, nullptr);
                continue;
            }
            if (result < 0)
                throw Error(2, avErrorText(result));
            if (packet->stream_index == stream) {
                result = avcodec_send_packet(decoder, packet);
                // A damaged packet is skipped; a file made only of damaged packets is broken.
                if (result < 0 && result != AVERROR(EAGAIN) && ++badPackets > kMaxBadPackets) {
                    av_packet_unref(packet);
                    throw Error(2, avErrorText(result));
                }
            }
            av_packet_unref(packet);
        }
    }

    void stamp()
    {
        std::int64_t pts = frame->best_effort_timestamp;
        double time;
        if (pts == AV_NOPTS_VALUE) {
            time = picturesThisPass == 0 ? loopOffset : lastTime + frameDuration;
        } else {
            double seconds = pts * av_q2d(timeBase);
            if (!firstPts)
                firstPts = seconds;
            time = loopOffset + (seconds - *firstPts);
        }
        // Keep time moving forward even when a file carries repeated or jumbled time stamps.
        if (picturesThisPass > 0 || loopOffset > 0)
            time = std::max(time, lastTime + 1e-3);
        lastTime = time;
        ++picturesThisPass;
        pending = true;
        pendingTime = time;
    }

    void rewind()
    {
        if (picturesThisPass == 0)
            throw Error(2, "no picture could be decoded");
        int result = av_seek_frame(format, stream,
            format->streams[stream]->start_time == AV_NOPTS_VALUE ? 0 : format->streams[stream]->start_time,
            AVSEEK_FLAG_BACKWARD);
        if (result < 0)
            result = avformat_seek_file(format, -1, INT64_MIN, 0, INT64_MAX, 0);
        if (result < 0)
            throw Error(2, avErrorText(result));
        avcodec_flush_buffers(decoder);
        draining = false;
        loopOffset = lastTime + frameDuration;
        firstPts.reset();
        picturesThisPass = 0;
    }

    // Converts the pending picture to I420 with full-range luma into a pooled buffer.
    std::shared_ptr<const FrameBuffer> convert(FramePool& pool)
    {
        bool fullRange = isFullRange(*frame);
        if (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) {
            // The common case by table: libswscale's general path for a range change costs several
            // times more than the lookup.
            auto buffer = pool.acquire(frame->width, frame->height, PixelFormat::i420);
            for (int plane = 0; plane < 3; ++plane) {
                const int width = buffer->planeWidth(plane);
                const int height = buffer->planeHeight(plane);
                if (fullRange)
                    for (int row = 0; row < height; ++row)
                        std::copy_n(frame->data[plane] + std::ptrdiff_t(row) * frame->linesize[plane], width,
                            buffer->data(plane) + std::ptrdiff_t(row) * buffer->stride(plane));
                else
                    expandRange(frame->data[plane], frame->linesize[plane], buffer->data(plane),
                        buffer->stride(plane), width, height, plane > 0);
            }
            return buffer;
        }
        int key[4] = { frame->width, frame->height, frame->format, fullRange };
        if (!scaler || !std::equal(key, key + 4, scalerKey)) {
            sws_freeContext(scaler);
            scaler = rangeConverter(*frame, fullRange);
            if (!scaler)
                return nullptr;
            std::copy(key, key + 4, scalerKey);
        }
        auto buffer = pool.acquire(frame->width, frame->height, PixelFormat::i420);
        std::uint8_t* target[4] = { buffer->data(0), buffer->data(1), buffer->data(2), nullptr };
        const int targetStride[4] = { buffer->stride(0), buffer->stride(1), buffer->stride(2), 0 };
        if (sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, target, targetStride)
            != frame->height)
            return nullptr;
        return buffer;
    }
};

FileCameraSource::FileCameraSource(std::string path, std::string name)
    : m_path(std::move(path))
    , m_name(std::move(name))
{
    if (m_name.empty())
        m_name = std::filesystem::path(m_path).stem().string();
}

FileCameraSource::~FileCameraSource() { stop(); }

std::vector<CameraDevice> FileCameraSource::devices()
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(m_path, error))
        return {};
    return { CameraDevice { m_name, m_path, false } };
}

void FileCameraSource::start(const CameraDevice& device, SerialQueue& videoQueue, Sink& sink)
{
    stop();
    auto playback = std::make_unique<Playback>();
    playback->open(device.id);
    m_format = { playback->decoder->width, playback->decoder->height };
    m_queue = &videoQueue;
    m_sink = &sink;
    m_queue->sync([&] {
        m_playback = std::move(playback);
        std::uint64_t generation = ++m_generation;
        m_queue->async([this, generation] { step(generation); });
    });
}

void FileCameraSource::stop()
{
    if (!m_queue)
        return;
    m_queue->sync([this] {
        ++m_generation; // later steps of the old stream find themselves stale
        m_playback.reset();
    });
    m_queue = nullptr;
    m_sink = nullptr;
    m_format = {};
}

std::vector<CameraFormat> FileCameraSource::formats()
{
    if (m_format.width == 0)
        return {};
    return { m_format };
}

void FileCameraSource::setFormat(const CameraFormat& format)
{
    if (format != m_format)
        throw Error(1, "a video file plays at its own size");
}

void FileCameraSource::step(std::uint64_t generation)
{
    if (generation != m_generation || !m_playback)
        return;
    Playback& playback = *m_playback;
    try {
        if (!playback.pending)
            playback.decodeNext();
    } catch (const Error& error) {
        m_playback.reset();
        m_sink->failed(m_path + ": " + error.description());
        return;
    }
    double wait = playback.startedAt + playback.pendingTime - steadyNow();
    // Re-anchor the pace rather than sleeping through a gap in the file's time stamps, or delivering a
    // burst to catch up after the machine fell behind.
    if (wait > kMaxGap || wait < -kMaxGap) {
        playback.startedAt -= wait - (wait > 0 ? playback.frameDuration : 0);
        wait = wait > 0 ? playback.frameDuration : 0;
    }
    if (wait > 0.001) {
        m_queue->asyncAfter(wait, [this, generation] { step(generation); });
        return;
    }
    playback.pending = false;
    if (m_sink->accepts(playback.pendingTime)) {
        if (auto picture = playback.convert(m_pool))
            m_sink->deliver(std::move(picture));
    }
    m_queue->async([this, generation] { step(generation); });
}

} // namespace vardel
