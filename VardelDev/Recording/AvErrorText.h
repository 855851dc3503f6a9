#pragma once

extern "C" {
#include <libavutil/error.h>
}

#include <string>

namespace vardel {

// FFmpeg's readable text for an AVERROR code, for error messages and log lines.
inline std::string avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace vardel
