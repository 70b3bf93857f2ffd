#include "vcam/frame_source.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace zbx::vcam {
namespace {

static_assert(std::endian::native == std::endian::little, "16-bit samples are written in host order");

constexpr std::size_t kNoiseTableSize = 1u << 16;

std::uint64_t xorshift(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

// Scene value to a 12-bit sample: value * scale in 16.16 fixed point.
inline std::uint16_t expose(std::uint16_t value, std::uint64_t scale) {
    const std::uint64_t v = (value * scale) >> 16;
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(v, kMaxSample));
}

inline void put(std::uint8_t* out, std::size_t index, std::uint16_t sample12, bool sixteen_bit) {
    if (sixteen_bit)
        std::memcpy(out + 2 * index, &sample12, 2);
    else
        out[index] = static_cast<std::uint8_t>(sample12 >> 4);
}

// Output position of a sensor position, or false when the window does not
// hold it.
inline bool to_output(const Readout& r, int sx, int sy, std::size_t& index) {
    if (sx < r.x0 || sy < r.y0 || sx >= r.x0 + r.width || sy >= r.y0 + r.height) return false;
    const int i = r.mirror_v ? r.y0 + r.height - 1 - sy : sy - r.y0;
    const int j = r.mirror_h ? r.x0 + r.width - 1 - sx : sx - r.x0;
    index = static_cast<std::size_t>(i) * static_cast<std::size_t>(r.width) + static_cast<std::size_t>(j);
    return true;
}

}  // namespace

void FrameSource::rebuild(const Readout& r, const Scene& scene) {
    const std::size_t bytes_per_sample = r.sixteen_bit ? 2 : 1;
    base_.resize(static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.height) * bytes_per_sample);
    std::uint8_t* out = base_.data();
    std::size_t index = 0;
    for (int i = 0; i < r.height; ++i) {
        const int sy = r.mirror_v ? r.y0 + r.height - 1 - i : r.y0 + i;
        for (int j = 0; j < r.width; ++j, ++index) {
            const int sx = r.mirror_h ? r.x0 + r.width - 1 - j : r.x0 + j;
            put(out, index, expose(scene.at(sx, sy), r.scale[cfa_cell(sx, sy)]), r.sixteen_bit);
        }
    }
    built_ = r;
    built_valid_ = true;
}

void FrameSource::render(std::span<std::uint8_t> out, const Readout& r, const Scene& scene,
                         std::span<const ZbxVcamDefect> defects, std::uint64_t sequence) {
    if (!built_valid_ || !(built_ == r)) rebuild(r, scene);

    const std::size_t copied = std::min(out.size(), base_.size());
    std::memcpy(out.data(), base_.data(), copied);
    if (copied < out.size()) std::memset(out.data() + copied, 0, out.size() - copied);

    const std::size_t samples = r.sixteen_bit ? out.size() / 2 : out.size();
    const SquareRect sq = scene.square(sequence);
    if (sq.size > 0) {
        const int x_begin = std::max({sq.x, r.x0, 0});
        const int x_end = std::min({sq.x + sq.size, r.x0 + r.width, kSensorWidth});
        const int y_begin = std::max({sq.y, r.y0, 0});
        const int y_end = std::min({sq.y + sq.size, r.y0 + r.height, kSensorHeight});
        for (int sy = y_begin; sy < y_end; ++sy) {
            for (int sx = x_begin; sx < x_end; ++sx) {
                std::size_t index = 0;
                if (!to_output(r, sx, sy, index) || index >= samples) continue;
                const int cell = cfa_cell(sx, sy);
                put(out.data(), index, expose(scene.square_value(cell), r.scale[cell]), r.sixteen_bit);
            }
        }
    }

    if (noise_sigma_ > 0) add_noise(out.first(samples * (r.sixteen_bit ? 2 : 1)), r.sixteen_bit);

    // Stuck pixels ignore exposure, gain and noise.
    for (const ZbxVcamDefect& d : defects) {
        std::size_t index = 0;
        if (to_output(r, d.x, d.y, index) && index < samples) put(out.data(), index, d.value, r.sixteen_bit);
    }
}

void FrameSource::set_noise(int sigma) {
    noise_sigma_ = sigma;
    if (sigma <= 0) return;
    noise12_.resize(kNoiseTableSize);
    noise8_.resize(kNoiseTableSize);
    std::uint64_t state = 0x2545F4914F6CDD1Dull;
    // Sum of four uniforms: close enough to Gaussian, standard deviation
    // sqrt(4 / 12) of the uniform's unit range.
    const double unit = sigma / 0.5773502691896258;
    for (std::size_t i = 0; i < kNoiseTableSize; ++i) {
        double sum = 0;
        for (int k = 0; k < 4; ++k) sum += static_cast<double>(xorshift(state) >> 11) / 9007199254740992.0 - 0.5;
        const auto v = static_cast<std::int16_t>(std::clamp(sum * unit, -4095.0, 4095.0));
        noise12_[i] = v;
        noise8_[i] = static_cast<std::int16_t>(v / 16);
    }
}

void FrameSource::add_noise(std::span<std::uint8_t> out, bool sixteen_bit) {
    const std::size_t offset = xorshift(rng_) & (kNoiseTableSize - 1);
    const std::size_t mask = kNoiseTableSize - 1;
    if (sixteen_bit) {
        const std::size_t n = out.size() / 2;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint16_t s;
            std::memcpy(&s, out.data() + 2 * i, 2);
            const int v = std::clamp(s + noise12_[(i + offset) & mask], 0, kMaxSample);
            s = static_cast<std::uint16_t>(v);
            std::memcpy(out.data() + 2 * i, &s, 2);
        }
    } else {
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<std::uint8_t>(std::clamp(out[i] + noise8_[(i + offset) & mask], 0, 255));
    }
}

}  // namespace zbx::vcam
