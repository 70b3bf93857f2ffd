#include "cli.h"

#include <array>
#include <cstdio>
#include <vector>

#include "capture_settings.h"
#include "camera.h"
#include "commands.h"
#include "interrupt.h"
#include "zorbex/zorbex.h"

namespace zbxcam {

namespace {

constexpr std::array<OptionSpec, 8> kGlobalOptions{{
    {"camera", 'c', "N", "use camera N, the slot 0 to 31 it sits in (default 0)"},
    {"no-save", 0, {}, "leave the camera's stored settings as they were (changes last for this run only)"},
    {"slots", 0, "LIST", "virtual camera: slots that hold a camera, e.g. 0,3 or 0-2 or none (default 0)"},
    {"scene", 0, "SCENE", "virtual camera: chart (moving square), still, flat or flat:R,G,B (12-bit)"},
    {"noise", 0, "N", "virtual camera: noise, standard deviation 0 to 512 on the 12-bit scale"},
    {"unpaced", 0, {}, "virtual camera: frames as fast as they are read, not at the sensor's rate"},
    {"help", 'h', {}, "show this help"},
    {"version", 'V', {}, "show the library's version"},
}};

std::vector<OptionSpec> with_capture_options(std::initializer_list<OptionSpec> own) {
    std::vector<OptionSpec> specs(own);
    for (const OptionSpec& s : capture_option_specs()) specs.push_back(s);
    return specs;
}

// Reads the request (a wrong command line fails before any camera is
// opened), then runs the command.
template <typename Request>
int parse_then_run(const CommandInput& input, std::string_view name,
                   RequestResult<Request> (*parse)(const ParsedArgs&),
                   int (*run_command)(const CommandInput&, const Request&)) {
    const RequestResult<Request> parsed = parse(input.args);
    if (!parsed.error.empty()) return print_usage_error(input.io, name, parsed.error);
    return run_command(input, parsed.request);
}

int snap_command(const CommandInput& input) { return parse_then_run(input, "snap", snap_request_from, run_snap); }
int stream_command(const CommandInput& input) { return parse_then_run(input, "stream", stream_request_from, run_stream); }
int demo_command(const CommandInput& input) { return parse_then_run(input, "demo", demo_request_from, run_demo); }
int record_command(const CommandInput& input) { return parse_then_run(input, "record", record_request_from, run_record); }
int get_command(const CommandInput& input) { return parse_then_run(input, "get", get_request_from, run_get); }
int set_command(const CommandInput& input) { return parse_then_run(input, "set", set_request_from, run_set); }
int preview_command(const CommandInput& input) { return parse_then_run(input, "preview", stream_request_from, run_preview); }

int no_arguments(const CommandInput& input, std::string_view name, int (*run_command)(const CommandInput&)) {
    if (!input.args.positionals.empty())
        return print_usage_error(input.io, name, "unexpected argument '" + input.args.positionals[0] + "'");
    return run_command(input);
}

int list_command(const CommandInput& input) {
    return no_arguments(input, "list", [](const CommandInput& in) { return run_list(in, in.args.has("json")); });
}
int info_command(const CommandInput& input) {
    return no_arguments(input, "info", [](const CommandInput& in) { return run_info(in, in.args.has("json")); });
}
int reset_command(const CommandInput& input) { return no_arguments(input, "reset", run_reset); }

constexpr OptionSpec kJsonOption{"json", 0, {}, "print the result as one JSON object"};

struct Command {
    std::string_view name;
    std::string_view summary;
    std::string_view usage;
    std::string_view description;
    std::vector<OptionSpec> options;
    int (*run)(const CommandInput&);
};

const std::vector<Command>& commands() {
    static const std::vector<Command> kCommands = {
        {"list", "list the cameras that are attached", "zbxcam list [--json]",
         "Lists the cameras the library finds, with the slot each sits in, its name and whether\n"
         "another program is streaming from it (in use). The library does not say which process.",
         {kJsonOption},
         list_command},
        {"info", "show the library version, the camera and its current settings", "zbxcam info [-c N]",
         "Shows the library's version, what the camera is, and its settings as the library holds\n"
         "them now (loaded from the settings it keeps per camera): colour mode, readout window,\n"
         "mirrors, exposure, gain and every image value by name.",
         {kJsonOption},
         info_command},
        {"snap", "take a frame (or a series) and save it to a file", "zbxcam snap [options] FILE|-",
         "Takes one frame and saves it. The format comes from the file name's extension\n"
         "(.bmp, .raw, .jpg, .png, .tif) or from --format. FILE - writes the image to standard\n"
         "output (PNG unless --format says otherwise): zbxcam snap - --format png | display.\n"
         "-n N takes a series: FILE is a name pattern such as shot-%03d.png (default\n"
         "frame-%04d.png; a plain name gets -%04d before its extension), numbered from 1.\n"
         "Settings given here are handed to the library before the frame is taken; the library\n"
         "keeps exposure, gain, mirrors and the image values for the next session as it always\n"
         "does (unless --no-save), the colour mode only for this one. Ctrl-C ends a series.",
         with_capture_options({
             {"format", 'f', "FORMAT", "bmp, raw, jpg (= jpg-high), jpg-high, jpg-normal, jpg-low, png or tif"},
             {"quality", 'q', "Q", "JPEG quality: high (100), normal (70) or low (20)"},
             {"count", 'n', "N", "take a series of N frames"},
             {"interval", 0, "S", "in a series, seconds from one frame to the next (default 0)"},
         }),
         snap_command},
        {"stream", "stream frames with a live status line, then a summary", "zbxcam stream [options]",
         "Streams frames for a while, showing frames, frame rate and failures on one live\n"
         "status line, then prints a summary. Ctrl-C stops early and cleanly.",
         with_capture_options({
             {"seconds", 't', "S", "how long to stream (default 5; 0 streams until Ctrl-C)"},
             {"json", 0, {}, "print the summary as one JSON object (the status line goes to stderr)"},
         }),
         stream_command},
        {"record", "record the stream into an uncompressed AVI file", "zbxcam record [options] FILE.avi",
         "Records the live stream into an AVI file (24-bit colour, uncompressed) with a live\n"
         "status line (frames written, frame rate, file size), then a summary. The file holds\n"
         "the frame rate the camera really achieved. Ctrl-C stops early and finishes the file.",
         with_capture_options({
             {"seconds", 't', "S", "how long to record (default 5; 0 records until Ctrl-C)"},
             {"frames", 0, "N", "stop after N frames instead (a frame more may slip in)"},
             {"json", 0, {}, "print the summary as one JSON object (the status line goes to stderr)"},
         }),
         record_command},
        {"get", "show camera values by name, without taking a frame", "zbxcam get [--json] [NAME...]",
         "Shows the named values (all of them without names) as NAME=VALUE lines, which 'zbxcam\n"
         "set' takes back: the image values (Gamma, BayerGainRed ... or their ids 1 to 28),\n"
         "MirrorH, MirrorV and AutoIris (0 off, 1 exposure, 2 gain).",
         {kJsonOption},
         get_command},
        {"set", "set camera values by name, without taking a frame", "zbxcam set NAME=VALUE...",
         "Sets the named values and shows them as the camera holds them now. The library keeps\n"
         "them for the next session (unless --no-save). Names as for 'zbxcam get'.",
         {},
         set_command},
        {"reset", "put the camera's values back to its defaults", "zbxcam reset",
         "Sets every value 'zbxcam get' shows back to the camera's default (exposure 637 lines,\n"
         "gain 0, mirrors off, Gamma 100, Bayer gains 100 ...), and shows them.",
         {},
         reset_command},
        {"demo", "snap every colour mode in every format, then stream", "zbxcam demo [--out DIR] [--seconds S]",
         "Takes a frame in each of the six colour modes and saves it in each of the seven file\n"
         "formats (BMP, raw, JPEG at qualities 100, 70 and 20, PNG, TIFF) into a folder, then\n"
         "streams for a few seconds with the live status line, and lists what it wrote.",
         {
             {"out", 'o', "DIR", "folder to write into (default out; created when missing)"},
             {"seconds", 't', "S", "how long to stream (default 3)"},
         },
         demo_command},
        {"preview", "show the live picture in a window", "zbxcam preview [--seconds S] [options]",
         "Opens the library's preview window on the X display and streams into it, with frames,\n"
         "frame rate and failures in its title. Closing the window or Ctrl-C ends it.",
         with_capture_options({{"seconds", 't', "S", "how long to show it (default 5; 0 until closed)"}}),
         preview_command},
        {"dialog", "open a property dialog while the camera streams", "zbxcam dialog analog|image|camera",
         "Streams and opens the analog, image or camera format dialog on the display; returns when it closes.", {},
         dialog_command},
    };
    return kCommands;
}

const Command* find_command(std::string_view name) {
    for (const Command& c : commands())
        if (c.name == name) return &c;
    return nullptr;
}

std::string version_text() {
    const int version = Zorbex_GetDllVersion();
    char text[96];
    std::snprintf(text, sizeof text, "zbxcam with ZorbexSdk_530RD_NQT version %d (0x%08X)\n", version,
                  static_cast<unsigned>(version));
    return text;
}

// Fills the options every command takes; a usage error message on failure.
std::string read_global_options(const ParsedArgs& args, GlobalOptions& global) {
    if (const std::optional<std::string> text = args.value("camera")) {
        const std::optional<int> n = parse_int(*text);
        if (!n || *n < 0 || *n > 31) return "--camera wants a slot number 0 to 31, not '" + *text + "'";
        global.camera = *n;
    }
    if (const std::optional<std::string> text = args.value("slots")) {
        const SlotsResult slots = parse_slots(*text);
        if (!slots.error.empty()) return "--slots: " + slots.error;
        global.vcam.slots = slots.mask;
    }
    int noise = 0;
    if (const std::optional<std::string> text = args.value("noise")) {
        const std::optional<int> n = parse_int(*text);
        if (!n || *n < 0 || *n > 512) return "--noise wants a number 0 to 512, not '" + *text + "'";
        noise = *n;
    }
    if (args.has("scene") || args.has("noise")) {
        const SceneResult scene = parse_scene(args.value("scene").value_or("chart"), noise);
        if (!scene.error.empty()) return "--scene: " + scene.error;
        global.vcam.scene = scene.scene;
    }
    global.vcam.unpaced = args.has("unpaced");
    global.no_save = args.has("no-save");
    return {};
}

}  // namespace

std::string tool_help() {
    std::string text =
        "zbxcam: try the Zorbex 530RD-NQT camera from a terminal.\n"
        "\n"
        "usage: zbxcam [common options] COMMAND [options]\n"
        "\n"
        "commands:\n";
    for (const Command& c : commands()) {
        text += "  " + std::string(c.name) + std::string(8 - c.name.size(), ' ') + std::string(c.summary) + "\n";
    }
    text +=
        "\n"
        "common options (before or after the command):\n" +
        format_options(kGlobalOptions) +
        "\n"
        "Without a camera, the library's virtual camera stands in for one; --slots, --scene,\n"
        "--noise and --unpaced choose how it behaves.\n"
        "\n"
        "exit status: 0 done, 1 the camera or the library failed, 2 the command line was wrong.\n"
        "'zbxcam COMMAND --help' describes one command.\n"
        "\n"
        "examples:\n"
        "  zbxcam list --slots 0,3\n"
        "  zbxcam snap frame.png --mode color48 --exposure 1200 --set Gamma=120\n"
        "  zbxcam stream --seconds 10 --scene flat:4095,2048,0\n"
        "  zbxcam record clip.avi --seconds 10\n"
        "  zbxcam snap - --format png | display\n"
        "  zbxcam get Gamma ExposureTime --json\n"
        "  zbxcam demo\n";
    return text;
}

std::string command_help(std::string_view name) {
    const Command* command = find_command(name);
    if (!command) return {};
    std::string text = "usage: " + std::string(command->usage) + "\n\n" + std::string(command->description) + "\n";
    if (!command->options.empty()) text += "\noptions:\n" + format_options(command->options);
    text += "\ncommon options:\n" + format_options(kGlobalOptions);
    return text;
}

int run(std::span<const std::string> args, Io& io) {
    std::size_t rest = 0;
    const ParseResult head = parse_args(args, kGlobalOptions, true, &rest);
    if (!head.ok()) return print_usage_error(io, "", head.error);
    if (rest == args.size()) {
        if (head.args.has("version")) {
            io.out << version_text();
            return kExitOk;
        }
        if (head.args.has("help")) {
            io.out << tool_help();
            return kExitOk;
        }
        io.err << tool_help();
        return kExitUsage;
    }
    const std::string& name = args[rest];
    const Command* command = find_command(name);
    if (!command) {
        return print_usage_error(io, "", "unknown command '" + name + "' (list, info, snap, stream, record, preview, dialog, get, set, reset or demo)");
    }
    std::vector<OptionSpec> specs(kGlobalOptions.begin(), kGlobalOptions.end());
    specs.insert(specs.end(), command->options.begin(), command->options.end());
    const ParseResult tail = parse_args(args.subspan(rest + 1), specs);
    if (!tail.ok()) return print_usage_error(io, command->name, tail.error);
    if (head.args.has("help") || tail.args.has("help")) {
        io.out << command_help(command->name);
        return kExitOk;
    }
    if (head.args.has("version") || tail.args.has("version")) {
        io.out << version_text();
        return kExitOk;
    }
    // Common options may come on either side of the command; the later wins.
    ParsedArgs all = head.args;
    all.options.insert(all.options.end(), tail.args.options.begin(), tail.args.options.end());
    all.positionals = tail.args.positionals;
    GlobalOptions global;
    if (std::string error = read_global_options(all, global); !error.empty())
        return print_usage_error(io, command->name, error);
    if (std::string error = apply_vcam_options(global.vcam); !error.empty()) {
        io.err << "zbxcam " << command->name << ": " << error << "\n";
        return kExitFailure;
    }
    Camera::keep_stored_settings(global.no_save);
    // Ctrl-C anywhere in a command ends it cleanly: files finished, the
    // camera released, the stored settings handled as asked.
    const InterruptCatcher interrupt;
    const int status = command->run(CommandInput{io, global, all});
    Camera::keep_stored_settings(false);
    return status;
}

}  // namespace zbxcam
