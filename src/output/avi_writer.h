// CAviWriter: an uncompressed 24-bit AVI 1.0 file (one RIFF list, one
// video stream, an "idx1" index).  It knows the RIFF/AVI layout and nothing
// about cameras; the recorder feeds it bottom-up blue-green-red pictures.
//
// File layout (little-endian; F = frame size, n = frame count):
//   0    "RIFF" <file size - 8> "AVI "
//   12   "LIST" 200 "hdrl"  "avih" 56 <main header>
//   88   "LIST" 124 "strl"  "strh" 64 <stream header>  "strf" 40 <bitmap header>
//   220  "LIST" <4 + n (8 + F)> "movi"
//   232  n x ("00db" F <F bytes>)
//   then "idx1" <16 n> n x ("00db", 0x10, offset from "movi", F)
// The file is a valid AVI at every moment, so that a recording cut short
// (the process killed, the machine halted) still opens with its frames:
// Open writes the sizes of an empty file, and every frame written is
// followed by the sizes and counts that include it (timing too, when the
// rate was changed meanwhile).  Until Finish the headers claim no index
// and 30 frames per second or the last rate given; Finish appends the
// index and sets the index flag and the final timing.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/files.h"

namespace zbx::output {

inline constexpr std::uint32_t kAvifHasIndex = 0x10;
inline constexpr std::uint32_t kAvifWasCaptureFile = 0x10000;
inline constexpr std::uint32_t kAviifKeyframe = 0x10;
inline constexpr std::uint32_t kAviOpenRate = 30;  // frames per second until Finish
// Offset of the first frame chunk; everything before it is header.
inline constexpr std::uint32_t kAviHeaderBytes = 232;
// Largest file the 32-bit sizes of an AVI 1.0 file can describe.
inline constexpr std::uint64_t kAviSizeLimit = 0xFFFFFFFFull;

// Body of "avih".
struct AviMainHeader {
    std::uint32_t dwMicroSecPerFrame = 0;
    std::uint32_t dwMaxBytesPerSec = 0;
    std::uint32_t dwPaddingGranularity = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwTotalFrames = 0;
    std::uint32_t dwInitialFrames = 0;
    std::uint32_t dwStreams = 0;
    std::uint32_t dwSuggestedBufferSize = 0;
    std::uint32_t dwWidth = 0;
    std::uint32_t dwHeight = 0;
    std::uint32_t dwReserved[4] = {};
};
static_assert(sizeof(AviMainHeader) == 56);

// Body of "strh".
struct AviStreamHeader {
    char fccType[4] = {};
    char fccHandler[4] = {};
    std::uint32_t dwFlags = 0;
    std::uint16_t wPriority = 0;
    std::uint16_t wLanguage = 0;
    std::uint32_t dwInitialFrames = 0;
    std::uint32_t dwScale = 0;
    std::uint32_t dwRate = 0;
    std::uint32_t dwStart = 0;
    std::uint32_t dwLength = 0;
    std::uint32_t dwSuggestedBufferSize = 0;
    std::uint32_t dwQuality = 0;
    std::uint32_t dwSampleSize = 0;
    std::int32_t rcFrame[4] = {};
};
static_assert(sizeof(AviStreamHeader) == 64);

// Body of "strf": the 40-byte bitmap information header.
struct AviBitmapHeader {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(AviBitmapHeader) == 40);

// One "idx1" entry.
struct AviIndexEntry {
    char ckid[4] = {};
    std::uint32_t dwFlags = 0;
    std::uint32_t dwChunkOffset = 0;  // of the chunk's identifier, counted from "movi"
    std::uint32_t dwChunkLength = 0;
};
static_assert(sizeof(AviIndexEntry) == 16);

enum class AviStatus {
    kOk,
    kNotOpen,      // no file open (Open failed or never called, or finished)
    kBadPicture,   // fewer than frame_size() bytes given
    kFull,         // the frame and its index entry would pass the size limit; nothing written
    kWriteFailed,  // the system refused a write; the frame is not counted
};

// Bytes of one 24-bit picture with rows rounded up to 4 bytes; 0 for a size
// that is not positive or whose frame chunk cannot fit an AVI 1.0 file.
[[nodiscard]] std::uint32_t AviFrameSize(std::int32_t width, std::int32_t height);

// Used by one thread at a time: the recorder's caller before Open, the
// record thread between Open and Finish.
class CAviWriter {
public:
    CAviWriter() = default;
    ~CAviWriter() { Close(); }
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    // Picture size for the next Open.
    void set_size(std::int32_t width, std::int32_t height) {
        width_ = width;
        height_ = height;
    }
    // The frame rate, in hundredths of a frame per second: for Finish, and
    // written with the next frame while the file is open.
    void set_rate(std::uint32_t rate) { rate_ = rate; }
    // Largest file the writer lets grow, index included (tests lower it).
    void set_size_limit(std::uint64_t bytes) { size_limit_ = bytes < kAviSizeLimit ? bytes : kAviSizeLimit; }

    // Closes what the writer holds, creates or truncates the file and
    // writes all headers of an empty, unindexed file with rate 30.  1 or 0 (bad size, the
    // file cannot be created, or the headers cannot be written: the file
    // is then closed).
    [[nodiscard]] int Open(const char* name);
    // Appends one frame chunk (frame_size() bytes of `picture`, bottom row
    // first, rows 4-byte aligned) and its index entry, then updates the
    // headers in place to include it.  A frame counts only when every byte
    // of it was written; a failed frame is overwritten by the next one.
    [[nodiscard]] AviStatus AddFrame(std::span<const std::uint8_t> picture);
    // Writes the index, patches sizes, counts and timing, cuts off whatever
    // a failed frame left beyond the end, closes the file.  When the index
    // cannot be written the file is patched to describe the frames alone,
    // without the index flag.  1 when everything was written.
    int Finish();
    // Closes the file without finishing it; empties the index, zeroes the
    // headers, the running sizes, the rate and the frame count.  The
    // picture size stays for the next Open.
    void Close();

    [[nodiscard]] bool is_open() const { return file_.is_open(); }
    [[nodiscard]] std::int32_t width() const { return width_; }
    [[nodiscard]] std::int32_t height() const { return height_; }
    [[nodiscard]] std::uint32_t rate() const { return rate_; }
    [[nodiscard]] std::uint32_t frame_count() const { return frame_count_; }
    [[nodiscard]] std::uint32_t frame_size() const { return frame_size_; }
    [[nodiscard]] std::uint32_t riff_size() const { return riff_size_; }
    [[nodiscard]] std::uint32_t movi_size() const { return movi_size_; }
    [[nodiscard]] const AviMainHeader& main_header() const { return main_header_; }
    [[nodiscard]] const AviStreamHeader& stream_header() const { return stream_header_; }
    [[nodiscard]] const AviBitmapHeader& format() const { return format_; }
    [[nodiscard]] const std::vector<AviIndexEntry>& index() const { return index_; }

private:
    void FillHeaders();
    [[nodiscard]] bool WriteHeaders();
    [[nodiscard]] bool WriteIndex();
    [[nodiscard]] bool PatchHeaders(bool with_index);
    // The sizes and counts of the frames written so far, and the timing
    // when the rate changed since it was last written.
    [[nodiscard]] bool WriteProgress();
    [[nodiscard]] bool WriteTiming();

    platform::File file_;
    AviMainHeader main_header_;
    AviStreamHeader stream_header_;
    AviBitmapHeader format_;
    std::uint32_t riff_size_ = 0;
    std::uint32_t movi_size_ = 0;
    std::uint32_t movi_size_position_ = 0;
    std::vector<AviIndexEntry> index_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::uint32_t rate_ = 0;
    std::uint32_t written_rate_ = 0;  // rate_ when the file's timing was written
    std::uint32_t frame_count_ = 0;
    std::uint32_t frame_size_ = 0;
    std::uint64_t size_limit_ = kAviSizeLimit;
};

}  // namespace zbx::output
