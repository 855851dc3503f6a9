#include "Mp4Writer.h"

#include "AvErrorText.h"
#include "Error.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <mutex>
#include <string>

namespace vardel {

namespace {

    // Without a known next frame, the last sample lasts as long as the one before it; a clip of a single
    // frame shows it for a tenth of a second (the capture's usual frame interval).
    constexpr std::int64_t kSingleFrameTicks = Mp4Writer::kTimeScale / 10;

} // namespace

struct Mp4Writer::Impl {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    AVPacket* held = nullptr; // encoded, waiting for the next packet to know its duration
    bool hasHeld = false;
    std::int64_t lastDuration = kSingleFrameTicks;
    SwsContext* toYuv = nullptr;
    bool fileOpen = false;
    bool headerWritten = false;
    bool failed = false;
    std::int64_t lastTicks = -1;
    int frames = 0;

    ~Impl()
    {
        sws_freeContext(toYuv);
        av_packet_free(&held);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            if (fileOpen)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    void write(AVPacket* out)
    {
        av_packet_rescale_ts(out, codec->time_base, stream->time_base);
        out->stream_index = stream->index;
        const int result = av_write_frame(format, out);
        av_packet_unref(out);
        if (result < 0)
            throw Error(12, "cannot write video: " + avErrorText(result));
    }

    // Takes every packet the encoder has ready. Each packet is held until the next one arrives, whose
    // time gives the held one's duration.
    void drain()
    {
        for (;;) {
            const int result = avcodec_receive_packet(codec, packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return;
            if (result < 0)
                throw Error(12, "cannot encode video: " + avErrorText(result));
            if (hasHeld) {
                lastDuration = std::max<std::int64_t>(packet->pts - held->pts, 1);
                held->duration = lastDuration;
                write(held);
            }
            av_packet_move_ref(held, packet);
            hasHeld = true;
        }
    }
};

Mp4Writer::Mp4Writer(const std::filesystem::path& path, int width, int height)
    : m_impl(std::make_unique<Impl>())
{
    // libx264 prints its per-file statistics at the info level; keep FFmpeg's console to warnings.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() > AV_LOG_WARNING)
            av_log_set_level(AV_LOG_WARNING);
    });
    auto& d = *m_impl;
    if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0)
        throw Error(10, "unsupported video size " + std::to_string(width) + "x" + std::to_string(height));

    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    if (!encoder)
        throw Error(10, "the H.264 encoder libx264 is not available");
    int result = avformat_alloc_output_context2(&d.format, nullptr, "mp4", path.c_str());
    if (result < 0 || !d.format)
        throw Error(10, "cannot create the MPEG-4 writer: " + avErrorText(result));
    d.stream = avformat_new_stream(d.format, nullptr);
    d.codec = avcodec_alloc_context3(encoder);
    d.frame = av_frame_alloc();
    d.packet = av_packet_alloc();
    d.held = av_packet_alloc();
    if (!d.stream || !d.codec || !d.frame || !d.packet || !d.held)
        throw Error(10, "cannot add the video track: out of memory");

    AVCodecContext* c = d.codec;
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = { 1, kTimeScale };
    // Frames come at about ten per second; the rate control follows the real time stamps (x264's
    // variable-frame-rate input), this only seeds it.
    c->framerate = { 10, 1 };
    c->bit_rate = kBitRate;
    c->gop_size = kKeyFrameInterval;
    // No frame reordering: samples stay in presentation order, so each duration is simply the gap to
    // the next frame and the track needs no edit list.
    c->max_b_frames = 0;
    c->profile = FF_PROFILE_H264_HIGH;
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    if (d.format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "profile", "high", 0);

    result = avcodec_open2(c, encoder, nullptr);
    if (result < 0)
        throw Error(10, "cannot open the H.264 encoder: " + avErrorText(result));
    result = avcodec_parameters_from_context(d.stream->codecpar, c);
    if (result < 0)
        throw Error(10, "cannot add the video track: " + avErrorText(result));
    d.stream->time_base = { 1, kTimeScale };

    d.frame->format = c->pix_fmt;
    d.frame->width = width;
    d.frame->height = height;
    result = av_frame_get_buffer(d.frame, 0);
    if (result < 0)
        throw Error(10, "cannot allocate a video frame: " + avErrorText(result));

    d.toYuv = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
        nullptr, nullptr, nullptr);
    if (!d.toYuv)
        throw Error(10, "cannot set up colour conversion");
    // Full-range sRGB in, limited-range BT.709 out, as the track is tagged.
    sws_setColorspaceDetails(d.toYuv, sws_getCoefficients(SWS_CS_ITU709), 1,
        sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);

    result = avio_open(&d.format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0)
        throw Error(11, "cannot create " + path.string() + ": " + avErrorText(result));
    d.fileOpen = true;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    av_dict_set(&options, "video_track_timescale", std::to_string(kTimeScale).c_str(), 0);
    result = avformat_write_header(d.format, &options);
    av_dict_free(&options);
    if (result < 0)
        throw Error(11, "cannot start writing " + path.string() + ": " + avErrorText(result));
    d.headerWritten = true;
}

Mp4Writer::~Mp4Writer() = default;

int Mp4Writer::width() const { return m_impl->codec->width; }

int Mp4Writer::height() const { return m_impl->codec->height; }

int Mp4Writer::framesWritten() const { return m_impl->frames; }

bool Mp4Writer::append(const std::uint8_t* bgra, int stride, std::int64_t ticks)
{
    auto& d = *m_impl;
    if (d.failed || ticks <= d.lastTicks)
        return false;
    try {
        int result = av_frame_make_writable(d.frame);
        if (result < 0)
            throw Error(12, "cannot reuse the video frame: " + avErrorText(result));
        const std::uint8_t* const source[] = { bgra };
        const int sourceStride[] = { stride };
        sws_scale(d.toYuv, source, sourceStride, 0, d.codec->height, d.frame->data, d.frame->linesize);
        d.frame->pts = ticks;
        result = avcodec_send_frame(d.codec, d.frame);
        if (result < 0)
            throw Error(12, "cannot encode video: " + avErrorText(result));
        d.lastTicks = ticks;
        ++d.frames;
        d.drain();
        return true;
    } catch (const Error&) {
        // The file cannot be completed any more; finish reports it.
        d.failed = true;
        return false;
    }
}

void Mp4Writer::finish()
{
    auto& d = *m_impl;
    if (d.failed)
        throw Error(12, "the video could not be encoded");
    int result = avcodec_send_frame(d.codec, nullptr);
    if (result < 0)
        throw Error(12, "cannot finish encoding: " + avErrorText(result));
    d.drain();
    if (d.hasHeld) {
        d.held->duration = d.lastDuration;
        d.write(d.held);
        d.hasHeld = false;
    }
    // The trailer moves the index to the front; it reads the file back, so it can fail on its own.
    result = av_write_trailer(d.format);
    const int closed = avio_closep(&d.format->pb);
    d.fileOpen = false;
    if (result < 0)
        throw Error(12, "cannot complete the video file: " + avErrorText(result));
    if (closed < 0)
        throw Error(12, "cannot close the video file: " + avErrorText(closed));
}

} // namespace vardel
