#pragma once
// The records the media layer exchanges with the program. Every field the program does not
// set keeps a value that means "not set" (empty text, -1, or an empty optional), so the
// engine decides. Times are signed 64-bit microseconds throughout.
#include <cstdint>
#include <utility>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv::media {

// A rational number as FFmpeg keeps it; {-1, -1} means "no such stream / unknown".
struct TAVRational {
    int num = -1;
    int den = -1;
};

// A plain 24-bit RGB picture (R, G, B bytes in that order), rows `Stride` bytes apart.
struct TRGBImage {
    int Width = 0;
    int Height = 0;
    int Stride = 0;
    std::vector<std::uint8_t> Pixels; // Stride * Height bytes
    bool empty() const { return Width <= 0 || Height <= 0; }
};

// A view of some rows of a 24-bit RGB frame owned by somebody else.
struct TRGBView {
    int Width = 0;       // the frame's full width
    int Height = 0;      // the frame's full height
    int Stride = 0;      // bytes from one row to the next
    int Top = 0;         // first row the view covers
    int Bottom = 0;      // one past the last row it covers
    std::uint8_t* Data = nullptr; // points at row 0 of the frame; only rows [Top, Bottom) are valid
    std::uint8_t* row(int y) const { return Data + static_cast<std::ptrdiff_t>(y) * Stride; }
};

// A premultiplied 32-bit ARGB picture (words 0xAARRGGBB) to lay over the frame with its
// top-left pixel at (Left, Top); it may reach past the frame's edges.
struct TOverlayView {
    const std::uint32_t* Pixels = nullptr;
    int Stride = 0; // words from one row to the next
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    // Optional: the columns [first, second) of row y that are not fully transparent are the
    // runs RowRuns[y] .. RowRuns[y + 1] - 1 (Height + 1 entries); the rest is skipped unread.
    const std::pair<int, int>* Runs = nullptr;
    const int* RowRuns = nullptr;
};

// The source frame handed to the video-input hook, as a 24-bit RGB bitmap at the source's
// size. Pixels are converted from the decoded frame only when first asked for, and only
// the rows asked for (widened as the pixel format needs), so a hook that draws nothing
// costs no conversion. After the call, if Update is true, the rows that were handed out
// go back into the frame; the others stay exactly as decoded.
class THookBitmap {
public:
    virtual ~THookBitmap() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Rows [top, bottom) as RGB; rows handed out earlier in the same call stay valid.
    virtual TRGBView Rows(int top, int bottom) = 0;
    TRGBView All() { return Rows(0, Height()); }
    // Lays the overlay over the frame source-over, straight into the frame's own pixel
    // format, when the frame can do that without an RGB round trip; like drawn rows, the
    // result goes into the frame only if Update is true. False: nothing was done, draw
    // through Rows() instead.
    virtual bool BlendOverlay(const TOverlayView& /*overlay*/) { return false; }
};

// The video stream information of the decoder (only FrameRate is relied on by the window).
struct TVideoStreamInfo {
    TAVRational FrameRate;       // {-1,-1} when the stream is missing or not video
    int Width = -1;
    int Height = -1;
    TAVRational SampleAspectRatio; // {0,1} or {-1,-1} when unknown
};

struct TInputOptions {
    std::string FileName;    // UTF-8 path
    std::string ForceFormat; // demuxer name; empty: detect
    std::int64_t TimeStart = -1; // -1: from the start
    int ProgramID = -1;
    std::string ExtOptions;
    int Tag = 0;
};

struct TStreamInfo {
    std::string Title;   // empty: the engine uses the source's base name
    std::string Author;
    std::string Comment;
    double TimeStamp = 0; // days since 1899-12-30; 0: now
};

struct TOutputOptions {
    std::string FileName;     // UTF-8 path of the output
    std::string FileExt;      // tail the naming rule appends ("_psp.mp4")
    std::string ForceFormat;  // muxer name ("psp")
    std::string VideoCodec;   // encoder name ("libx264", "mpeg4"); empty: muxer default
    std::string VideoPreset;  // empty: not set
    std::string FrameSize;    // "WxH"; empty: source size
    std::string FrameRate;    // "num/den"; empty: source rate
    std::int64_t VideoBitrate = -1;          // bit/s
    std::int64_t VideoBitRateTolerance = -1; // bits
    std::int64_t VideoMaxRate = -1;          // bit/s (the Hi profile's 768 means kbit/s, see profiles)
    std::int64_t VideoBufSize = -1;          // bits
    std::string AudioCodec;   // "libfaac" falls back to FFmpeg's own "aac" when missing
    int AudioSampleRate = -1;
    std::int64_t AudioBitrate = -1;
    int AudioChannels = -1;
    bool VideoInputHook = false;
    int VideoHookBitsPixel = 24;
    bool CopyTimestamp = false;
    bool DisableSubtitle = false;
    bool DisableAudio = false;
    bool DisableVideo = false;
    TStreamInfo Info;
};

struct TProgressInfo {
    int TaskIndex = -1;
    int FileIndex = 0;
    int FrameNumber = 0;
    int FPS = 0;
    float Quality = 0;
    float BitRate = 0;
    std::int64_t CurrentSize = 0;
    std::int64_t CurrentDuration = 0; // µs of the source converted so far
    std::int64_t TotalDuration = -1;  // µs of the whole source; -1 when unknown
};

struct TTerminateInfo {
    int TaskIndex = -1; // -1: the engine's last report after all tasks
    bool Finished = false;
    bool Exception = false;
    std::string ExceptionMsg;
};

struct TPreviewInfo {
    int TaskIndex = -1;
    const TRGBImage* Bitmap = nullptr; // valid during the handler call only
    int FrameNumber = 0;
    std::int64_t PTS = 0;
};

struct THookInfo {
    int TaskIndex = -1;
    THookBitmap* Bitmap = nullptr; // valid during the hook call only
    int FrameNumber = 0;
    std::int64_t PTS = 0;  // µs from the start of the source
    bool Update = true;    // set true by the engine before each call
    bool StopHook = false; // set false by the engine before each call
};

enum class TLogLevel { llQuiet = 0, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest };

} // namespace kv::media
