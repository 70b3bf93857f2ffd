#include "output/avi_writer.h"

#include <array>
#include <cstring>


namespace zbx::output {
namespace {

// The two list sizes follow from the fixed chunk sizes.
constexpr std::uint32_t kMainHeaderBytes = sizeof(AviMainHeader);
constexpr std::uint32_t kStreamHeaderBytes = sizeof(AviStreamHeader);
constexpr std::uint32_t kFormatBytes = sizeof(AviBitmapHeader);
constexpr std::uint32_t kStrlListSize = 4 + (8 + kStreamHeaderBytes) + (8 + kFormatBytes);  // 124
constexpr std::uint32_t kHdrlListSize = 4 + (8 + kMainHeaderBytes) + (8 + kStrlListSize);   // 200
constexpr std::uint32_t kMoviSizePosition = 224;
// File offset of the "movi" identifier: frame offsets count from here.
constexpr std::uint64_t kMoviPosition = 228;
constexpr std::uint32_t kChunkHeaderBytes = 8;
constexpr std::uint32_t kIndexEntryBytes = sizeof(AviIndexEntry);

// Patch positions of the values Finish rewrites.
constexpr std::uint64_t kRiffSizeAt = 4;
constexpr std::uint64_t kMicroSecPerFrameAt = 32;
constexpr std::uint64_t kMainFlagsAt = 44;
constexpr std::uint64_t kTotalFramesAt = 48;
constexpr std::uint64_t kScaleAt = 128;
constexpr std::uint64_t kLengthAt = 140;

constexpr std::uint32_t kOpenMicroSecPerFrame = 1000000 / kAviOpenRate;  // 33333
constexpr std::uint32_t kOpenScale = 10000000 / kAviOpenRate;            // 333333
constexpr std::uint32_t kTimeRate = 10000000;

// Little-endian serialiser into a fixed byte block; the file format does
// not depend on the host's byte order or struct padding.
class Bytes {
public:
    explicit Bytes(std::uint8_t* out) : out_(out) {}
    void fourcc(const char (&id)[5]) { raw(id, 4); }
    void fourcc4(const char* id) { raw(id, 4); }
    void u16(std::uint16_t v) {
        out_[pos_++] = static_cast<std::uint8_t>(v);
        out_[pos_++] = static_cast<std::uint8_t>(v >> 8);
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out_[pos_++] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    [[nodiscard]] std::size_t size() const { return pos_; }

private:
    void raw(const void* p, std::size_t n) {
        std::memcpy(out_ + pos_, p, n);
        pos_ += n;
    }
    std::uint8_t* out_;
    std::size_t pos_ = 0;
};

void put(Bytes& b, const AviMainHeader& h) {
    b.u32(h.dwMicroSecPerFrame);
    b.u32(h.dwMaxBytesPerSec);
    b.u32(h.dwPaddingGranularity);
    b.u32(h.dwFlags);
    b.u32(h.dwTotalFrames);
    b.u32(h.dwInitialFrames);
    b.u32(h.dwStreams);
    b.u32(h.dwSuggestedBufferSize);
    b.u32(h.dwWidth);
    b.u32(h.dwHeight);
    for (std::uint32_t v : h.dwReserved) b.u32(v);
}

void put(Bytes& b, const AviStreamHeader& h) {
    b.fourcc4(h.fccType);
    b.fourcc4(h.fccHandler);
    b.u32(h.dwFlags);
    b.u16(h.wPriority);
    b.u16(h.wLanguage);
    b.u32(h.dwInitialFrames);
    b.u32(h.dwScale);
    b.u32(h.dwRate);
    b.u32(h.dwStart);
    b.u32(h.dwLength);
    b.u32(h.dwSuggestedBufferSize);
    b.u32(h.dwQuality);
    b.u32(h.dwSampleSize);
    for (std::int32_t v : h.rcFrame) b.i32(v);
}

void put(Bytes& b, const AviBitmapHeader& h) {
    b.u32(h.biSize);
    b.i32(h.biWidth);
    b.i32(h.biHeight);
    b.u16(h.biPlanes);
    b.u16(h.biBitCount);
    b.u32(h.biCompression);
    b.u32(h.biSizeImage);
    b.i32(h.biXPelsPerMeter);
    b.i32(h.biYPelsPerMeter);
    b.u32(h.biClrUsed);
    b.u32(h.biClrImportant);
}

void put(Bytes& b, const AviIndexEntry& e) {
    b.fourcc4(e.ckid);
    b.u32(e.dwFlags);
    b.u32(e.dwChunkOffset);
    b.u32(e.dwChunkLength);
}

[[nodiscard]] bool write_u32_at(platform::File& file, std::uint64_t offset, std::uint32_t v) {
    std::uint8_t bytes[4];
    Bytes b(bytes);
    b.u32(v);
    return file.write_at(offset, bytes, sizeof bytes);
}

// Index-free end of a file: headers, frames, and the "idx1" header with one
// entry per frame.
constexpr std::uint64_t kSmallestFile = kAviHeaderBytes + kChunkHeaderBytes;

}  // namespace

std::uint32_t AviFrameSize(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    const std::uint64_t row = (3 * static_cast<std::uint64_t>(width) + 3) & ~std::uint64_t{3};
    const std::uint64_t size = row * static_cast<std::uint64_t>(height);
    // One frame chunk with its index entry must fit beside the headers.
    if (size + kChunkHeaderBytes + kIndexEntryBytes + kSmallestFile > kAviSizeLimit) return 0;
    return static_cast<std::uint32_t>(size);
}

int CAviWriter::Open(const char* name) {
    Close();
    frame_size_ = AviFrameSize(width_, height_);
    if (frame_size_ == 0) return 0;
    file_ = platform::open_for_write(name);
    if (!file_) return 0;
    rate_ = kAviOpenRate;
    written_rate_ = rate_;  // the opening timing, 30 frames per second, is in the headers
    frame_count_ = 0;
    FillHeaders();
    if (!WriteHeaders()) {
        Close();
        return 0;
    }
    return 1;
}

void CAviWriter::FillHeaders() {
    const std::uint32_t buffer_size = frame_size_ + kChunkHeaderBytes;
    // An approximate data rate at the opening frame rate is all readers use.
    const std::uint64_t bytes_per_sec = std::uint64_t{buffer_size} * kAviOpenRate;

    main_header_ = AviMainHeader{};
    main_header_.dwMicroSecPerFrame = 1000000 / rate_;
    main_header_.dwMaxBytesPerSec =
        bytes_per_sec > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(bytes_per_sec);
    // The index flag comes with the index, at Finish.
    main_header_.dwFlags = kAvifWasCaptureFile;
    main_header_.dwTotalFrames = frame_count_;
    main_header_.dwStreams = 1;
    main_header_.dwSuggestedBufferSize = buffer_size;
    main_header_.dwWidth = static_cast<std::uint32_t>(width_);
    main_header_.dwHeight = static_cast<std::uint32_t>(height_);

    stream_header_ = AviStreamHeader{};
    std::memcpy(stream_header_.fccType, "vids", 4);
    std::memcpy(stream_header_.fccHandler, "DIB ", 4);
    stream_header_.dwScale = 10000000 / rate_;
    stream_header_.dwRate = kTimeRate;
    stream_header_.dwLength = frame_count_;
    stream_header_.dwSuggestedBufferSize = buffer_size;

    format_ = AviBitmapHeader{};
    format_.biSize = kFormatBytes;
    format_.biWidth = width_;
    format_.biHeight = height_;  // positive: bottom-up rows
    format_.biPlanes = 1;
    format_.biBitCount = 24;
    format_.biCompression = 0;
}

bool CAviWriter::WriteHeaders() {
    std::array<std::uint8_t, kAviHeaderBytes> block{};
    Bytes b(block.data());
    b.fourcc("RIFF");
    b.u32(kAviHeaderBytes - 8);
    b.fourcc("AVI ");
    b.fourcc("LIST");
    b.u32(kHdrlListSize);
    b.fourcc("hdrl");
    b.fourcc("avih");
    b.u32(kMainHeaderBytes);
    put(b, main_header_);
    b.fourcc("LIST");
    b.u32(kStrlListSize);
    b.fourcc("strl");
    b.fourcc("strh");
    b.u32(kStreamHeaderBytes);
    put(b, stream_header_);
    b.fourcc("strf");
    b.u32(kFormatBytes);
    put(b, format_);
    b.fourcc("LIST");
    movi_size_position_ = static_cast<std::uint32_t>(b.size());
    b.u32(4);
    b.fourcc("movi");
    static_assert(kMoviSizePosition + 8 == kAviHeaderBytes);

    // One write: a failure cannot leave a file whose headers stop halfway.
    if (!file_.write_at(0, block.data(), block.size())) return false;
    riff_size_ = kAviHeaderBytes - 8;  // everything after the RIFF size field
    movi_size_ = 4;                    // the "movi" identifier
    return true;
}

AviStatus CAviWriter::AddFrame(std::span<const std::uint8_t> picture) {
    if (!file_) return AviStatus::kNotOpen;
    if (picture.size() < frame_size_) return AviStatus::kBadPicture;

    const std::uint64_t chunk = std::uint64_t{kChunkHeaderBytes} + frame_size_;
    const std::uint64_t at = kMoviPosition + movi_size_;
    const std::uint64_t finished_size =
        at + chunk + kChunkHeaderBytes + std::uint64_t{kIndexEntryBytes} * (index_.size() + 1);
    if (finished_size > size_limit_) return AviStatus::kFull;

    // Frames go at the end of the last complete frame, not at the file's
    // position, so a frame that failed halfway is overwritten by the next.
    std::uint8_t head[kChunkHeaderBytes];
    Bytes b(head);
    b.fourcc("00db");
    b.u32(frame_size_);
    if (!file_.write_at(at, head, sizeof head) ||
        !file_.write_at(at + sizeof head, picture.data(), frame_size_))
        return AviStatus::kWriteFailed;

    AviIndexEntry entry;
    std::memcpy(entry.ckid, "00db", 4);
    entry.dwFlags = kAviifKeyframe;
    entry.dwChunkOffset = movi_size_;
    entry.dwChunkLength = frame_size_;
    index_.push_back(entry);
    riff_size_ += static_cast<std::uint32_t>(chunk);
    movi_size_ += static_cast<std::uint32_t>(chunk);
    ++frame_count_;
    // Rewrites of bytes already in the file: they need no new space, and
    // one that fails anyway is done again with the next frame and at Finish.
    (void)WriteProgress();
    return AviStatus::kOk;
}

bool CAviWriter::WriteProgress() {
    // Frame bytes first, then the sizes that take them in: a file cut off
    // between two of these writes still describes only complete frames.
    bool ok = write_u32_at(file_, movi_size_position_, movi_size_);
    ok = write_u32_at(file_, kRiffSizeAt, riff_size_) && ok;
    ok = write_u32_at(file_, kTotalFramesAt, frame_count_) && ok;
    ok = write_u32_at(file_, kLengthAt, frame_count_) && ok;
    if (rate_ != written_rate_) ok = WriteTiming() && ok;
    return ok;
}

bool CAviWriter::WriteTiming() {
    // A zero rate would divide by zero; the slowest rate stands in for it.
    const std::uint32_t rate = rate_ == 0 ? 1 : rate_;
    main_header_.dwMicroSecPerFrame = 100000000 / rate;
    stream_header_.dwScale = 1000000000 / rate;
    if (stream_header_.dwScale == 0) stream_header_.dwScale = 1;
    const bool ok = write_u32_at(file_, kMicroSecPerFrameAt, main_header_.dwMicroSecPerFrame) &&
                    write_u32_at(file_, kScaleAt, stream_header_.dwScale);
    if (ok) written_rate_ = rate_;
    return ok;
}

bool CAviWriter::WriteIndex() {
    std::vector<std::uint8_t> block(kChunkHeaderBytes + index_.size() * kIndexEntryBytes);
    Bytes b(block.data());
    b.fourcc("idx1");
    b.u32(static_cast<std::uint32_t>(index_.size() * kIndexEntryBytes));
    for (const AviIndexEntry& e : index_) put(b, e);
    return file_.write_at(kMoviPosition + movi_size_, block.data(), block.size());
}

bool CAviWriter::PatchHeaders(bool with_index) {
    main_header_.dwTotalFrames = frame_count_;
    stream_header_.dwLength = frame_count_;
    if (with_index) main_header_.dwFlags |= kAvifHasIndex;

    bool ok = write_u32_at(file_, kRiffSizeAt, riff_size_);
    ok = write_u32_at(file_, movi_size_position_, movi_size_) && ok;
    ok = write_u32_at(file_, kTotalFramesAt, frame_count_) && ok;
    ok = write_u32_at(file_, kLengthAt, frame_count_) && ok;
    ok = WriteTiming() && ok;
    // Last: the flag claims an index only once everything it needs is there.
    if (with_index) ok = write_u32_at(file_, kMainFlagsAt, main_header_.dwFlags) && ok;
    return ok;
}

int CAviWriter::Finish() {
    if (!file_) return 0;
    const bool indexed = WriteIndex();
    if (indexed) riff_size_ += kChunkHeaderBytes + static_cast<std::uint32_t>(index_.size()) * kIndexEntryBytes;
    const bool patched = PatchHeaders(indexed);
    // A frame that failed halfway (disk full) may have left bytes past the
    // index, or past the last frame when the index could not be written:
    // the file ends where its RIFF size says.
    const bool cut = file_.truncate(std::uint64_t{riff_size_} + 8);
    const bool closed = file_.close();
    return indexed && patched && cut && closed ? 1 : 0;
}

void CAviWriter::Close() {
    (void)file_.close();
    index_.clear();
    index_.shrink_to_fit();
    main_header_ = AviMainHeader{};
    stream_header_ = AviStreamHeader{};
    format_ = AviBitmapHeader{};
    riff_size_ = 0;
    movi_size_ = 0;
    movi_size_position_ = 0;
    rate_ = 0;
    written_rate_ = 0;
    frame_count_ = 0;
    frame_size_ = 0;
}

}  // namespace zbx::output
