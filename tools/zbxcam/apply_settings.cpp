#include "capture_settings.h"

namespace zbxcam {

namespace {

// Context naming the refused value and its range, for ERR_PARAMETER.
ErrorContext value_context(Camera& camera, const std::string& value, std::string_view range) {
    ErrorContext context;
    context.camera = camera.number();
    context.value = value;
    context.range = std::string(range);
    return context;
}

// What the library accepts for image value `id`, from its table.
std::string range_of(int id) {
    const FilterValue* f = find_filter_value(std::to_string(id));
    return f != nullptr ? std::string(f->range) : std::string();
}

}  // namespace

int apply_capture_settings(Camera& camera, const CaptureSettings& s, Io& io,
                           std::string_view command) {
    const ZbxHandle h = camera.handle();
    camera.take_errors();
    if (s.mode && !Zorbex_SetColorMode(h, s.mode->set_bits))
        return camera.fail(io, command, "could not set the colour mode",
                           value_context(camera, "colour mode " + std::string(s.mode->token), {}));
    if (s.mirror_h && !Zorbex_SetMirrorH(h, *s.mirror_h ? 1 : 0))
        return camera.fail(io, command, "could not set the horizontal mirror");
    if (s.mirror_v && !Zorbex_SetMirrorV(h, *s.mirror_v ? 1 : 0))
        return camera.fail(io, command, "could not set the vertical mirror");
    if (s.gain && !Zorbex_SetFilterValue(h, ZBX_ID_GLOBAL_GAIN, *s.gain))
        return camera.fail(io, command, "could not set the gain",
                           value_context(camera, "gain " + std::to_string(*s.gain), range_of(ZBX_ID_GLOBAL_GAIN)));
    if (s.exposure_lines && !Zorbex_SetFilterValue(h, ZBX_ID_EXPOSURE_TIME, *s.exposure_lines))
        return camera.fail(io, command, "could not set the exposure",
                           value_context(camera, "exposure " + std::to_string(*s.exposure_lines),
                                         range_of(ZBX_ID_EXPOSURE_TIME)));
    if (s.exposure_us && !Zorbex_SetRealExposureTime(h, *s.exposure_us))
        return camera.fail(
            io, command, "could not set the exposure",
            value_context(camera, "exposure " + std::to_string(*s.exposure_us) + " us",
                          "what " + range_of(ZBX_ID_EXPOSURE_TIME) + " take at the current line length"));
    if (s.auto_iris && !Zorbex_SetAutoIris(h, *s.auto_iris))
        return camera.fail(io, command, "could not set automatic exposure or gain");
    for (const FilterAssignment& a : s.values) {
        if (!Zorbex_SetFilterValue(h, a.filter->id, a.value))
            return camera.fail(
                io, command, "could not set " + std::string(a.filter->name),
                value_context(camera, std::string(a.filter->name) + " " + std::to_string(a.value),
                              a.filter->range));
    }
    camera.take_errors();
    return kExitOk;
}

}  // namespace zbxcam
