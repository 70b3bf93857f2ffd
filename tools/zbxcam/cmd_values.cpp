// get, set and reset: the camera's values without taking a frame.
#include "camera.h"
#include "camera_values.h"
#include "commands.h"
#include "json.h"

namespace zbxcam {

namespace {

// Context naming the refused value and its range, for ERR_PARAMETER.
ErrorContext value_context(Camera& camera, const ValueAssignment& a) {
    ErrorContext context;
    context.camera = camera.number();
    context.value = std::string(a.value->name) + " " + std::to_string(a.number);
    context.range = std::string(a.value->range);
    return context;
}

// "Name=value" lines (what set takes back) or one JSON object.
int print_values(Camera& camera, Io& io, std::string_view command, std::span<const CameraValue* const> values,
                 bool json) {
    JsonObject object;
    for (const CameraValue* v : values) {
        camera.take_errors();
        const std::optional<int> number = read_camera_value(camera.handle(), *v);
        if (!number) return camera.fail(io, command, "could not read " + std::string(v->name));
        if (json)
            object.add(v->name, *number);
        else
            io.out << v->name << "=" << *number << "\n";
    }
    if (json) io.out << object.str() << "\n";
    return kExitOk;
}

std::vector<const CameraValue*> every_value() {
    std::vector<const CameraValue*> all;
    for (const CameraValue& v : camera_values()) all.push_back(&v);
    return all;
}

int write_values(const CommandInput& input, std::string_view command, std::span<const ValueAssignment> values) {
    Io& io = input.io;
    const std::unique_ptr<Camera> camera = Camera::open(io, command, input.global.camera);
    if (!camera) return kExitFailure;
    camera->take_errors();
    if (const ValueAssignment* failed = write_camera_values(camera->handle(), values))
        return camera->fail(io, command, "could not set " + std::string(failed->value->name),
                            value_context(*camera, *failed));
    std::vector<const CameraValue*> shown;
    for (const ValueAssignment& a : values) shown.push_back(a.value);
    return print_values(*camera, io, command, shown, false);
}

}  // namespace

int run_get(const CommandInput& input, const GetRequest& request) {
    Io& io = input.io;
    const std::unique_ptr<Camera> camera = Camera::open(io, "get", input.global.camera);
    if (!camera) return kExitFailure;
    const std::vector<const CameraValue*> values = request.values.empty() ? every_value() : request.values;
    return print_values(*camera, io, "get", values, request.json);
}

int run_set(const CommandInput& input, const SetRequest& request) {
    return write_values(input, "set", request.values);
}

int run_reset(const CommandInput& input) {
    const std::vector<ValueAssignment> defaults = default_values();
    return write_values(input, "reset", defaults);
}

}  // namespace zbxcam
