#include "VideoInfo.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <chrono>
#include <cmath>

namespace vardel {

namespace {

    using SteadyClock = std::chrono::steady_clock;

    int pastDeadline(void* opaque)
    {
        return SteadyClock::now() >= *static_cast<SteadyClock::time_point*>(opaque) ? 1 : 0;
    }

    struct InputCloser {
        AVFormatContext* context = nullptr;
        ~InputCloser()
        {
            if (context)
                avformat_close_input(&context);
        }
    };

} // namespace

std::optional<VideoInfo::Info> VideoInfo::read(const std::filesystem::path& file, double timeoutSeconds)
{
    auto deadline = SteadyClock::now()
        + std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(timeoutSeconds));
    InputCloser input;
    input.context = avformat_alloc_context();
    if (!input.context)
        return std::nullopt;
    input.context->interrupt_callback = { pastDeadline, &deadline };

    // Only our own clips are read: the MP4 demuxer is forced so that a text or image file named .mp4 is
    // never handed to a demuxer guessed from its content.
    const AVInputFormat* mp4 = av_find_input_format("mp4");
    if (avformat_open_input(&input.context, file.c_str(), mp4, nullptr) < 0) {
        input.context = nullptr; // freed by the failed open
        return std::nullopt;
    }
    if (avformat_find_stream_info(input.context, nullptr) < 0)
        return std::nullopt;

    const AVStream* video = nullptr;
    for (unsigned i = 0; i < input.context->nb_streams && !video; ++i) {
        const AVStream* stream = input.context->streams[i];
        // Cover art in an audio file is a one-picture "video" stream; it is no clip.
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            video = stream;
    }
    if (!video || video->codecpar->width <= 0 || video->codecpar->height <= 0)
        return std::nullopt;

    if (input.context->duration == AV_NOPTS_VALUE)
        return std::nullopt;
    const double seconds = static_cast<double>(input.context->duration) / AV_TIME_BASE;
    if (!std::isfinite(seconds) || seconds <= 0)
        return std::nullopt;
    return Info { seconds, video->codecpar->width, video->codecpar->height };
}

} // namespace vardel
