#include "vcam_setup.h"

#include <vector>

#include "args.h"
#include "names.h"

namespace zbxcam {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

std::optional<int> parse_slot(std::string_view text) {
    const std::optional<int> n = parse_int(text);
    if (!n || *n < 0 || *n >= ZBX_VCAM_MAX_SLOTS) return std::nullopt;
    return n;
}

}  // namespace

SlotsResult parse_slots(std::string_view text) {
    SlotsResult result;
    if (text.empty() || to_lower(text) == "none") return result;
    for (std::string_view part : split(text, ',')) {
        const std::size_t dash = part.find('-', 1);
        std::optional<int> first;
        std::optional<int> last;
        if (dash == std::string_view::npos) {
            first = last = parse_slot(part);
        } else {
            first = parse_slot(part.substr(0, dash));
            last = parse_slot(part.substr(dash + 1));
        }
        if (!first || !last || *first > *last) {
            result.error = "slot '" + std::string(part) + "' is not a number 0 to 31 or a range like 0-3";
            return result;
        }
        for (int s = *first; s <= *last; ++s) result.mask |= 1u << s;
    }
    return result;
}

SceneResult parse_scene(std::string_view text, int noise) {
    SceneResult result;
    result.scene.noise = noise;
    const std::string lower = to_lower(text);
    if (lower == "chart") {
        result.scene.kind = ZBX_VCAM_SCENE_CHART;
        result.scene.moving = 1;
    } else if (lower == "still") {
        result.scene.kind = ZBX_VCAM_SCENE_CHART;
        result.scene.moving = 0;
    } else if (lower == "flat" || lower.starts_with("flat:")) {
        result.scene.kind = ZBX_VCAM_SCENE_FLAT;
        std::uint16_t rgb[3] = {2048, 2048, 2048};
        if (lower != "flat") {
            const std::vector<std::string_view> parts = split(std::string_view(lower).substr(5), ',');
            if (parts.size() != 3) {
                result.error = "a flat scene is flat:R,G,B with three values 0 to 4095";
                return result;
            }
            for (int i = 0; i < 3; ++i) {
                const std::optional<int> v = parse_int(parts[i]);
                if (!v || *v < 0 || *v > 4095) {
                    result.error = "scene value '" + std::string(parts[i]) + "' is not 0 to 4095";
                    return result;
                }
                rgb[i] = static_cast<std::uint16_t>(*v);
            }
        }
        result.scene.flat_red = rgb[0];
        result.scene.flat_green = rgb[1];
        result.scene.flat_blue = rgb[2];
    } else {
        result.error = "unknown scene '" + std::string(text) + "' (chart, still, flat or flat:R,G,B)";
    }
    return result;
}

std::string describe_slots(std::uint32_t mask) {
    std::string text;
    for (int s = 0; s < ZBX_VCAM_MAX_SLOTS; ++s) {
        if (!(mask & (1u << s))) continue;
        if (!text.empty()) text += ", ";
        text += std::to_string(s);
    }
    return text.empty() ? "none" : text;
}

std::string apply_vcam_options(const VcamOptions& options) {
    if (options.slots && ZbxVcam_SetSlots(*options.slots) != ZBX_VCAM_OK)
        return "the virtual camera refused the slots " + describe_slots(*options.slots);
    const std::uint32_t attached = ZbxVcam_GetSlots();
    for (int s = 0; s < ZBX_VCAM_MAX_SLOTS; ++s) {
        if (!(attached & (1u << s))) continue;
        if (options.scene && ZbxVcam_SetScene(s, &*options.scene) != ZBX_VCAM_OK)
            return "the virtual camera refused the scene for slot " + std::to_string(s);
        if (ZbxVcam_SetPacing(s, options.unpaced ? ZBX_VCAM_UNPACED : ZBX_VCAM_PACED) != ZBX_VCAM_OK)
            return "the virtual camera refused the pacing for slot " + std::to_string(s);
    }
    return {};
}

}  // namespace zbxcam
