#include "sink/sink_options.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "sys/socket_calls.h"

namespace velgor::sink {
namespace {

template <typename Number>
[[nodiscard]] bool parseNumber(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [stop, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && stop == end;
}

bool isIpv4Address(const std::string& text) {
    Ipv4Address address;
    return parseStrictIPv4(text.c_str(), address);
}

}  // namespace

ParsedOptions parseSinkOptions(std::span<const char* const> args) {
    ParsedOptions parsed;
    SinkOptions& options = parsed.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        // The value of an option that takes one: inline, or the next argument.
        auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return std::string_view(args[++i]);
            return std::nullopt;
        };
        auto fail = [&](const std::string& why) {
            parsed.error = why;
            return parsed;
        };
        const bool takesNoValue =
            name == "--help" || name == "-h" || name == "--count" || name == "--many";
        if (takesNoValue && inlineValue) return fail(std::string(name) + " takes no value");

        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--count") {
            options.countOnly = true;
        } else if (name == "--many") {
            options.many = true;
        } else if (name == "--port") {
            const auto text = value();
            if (!text) return fail("--port needs a port number");
            if (!parseNumber(*text, options.port)) {
                return fail("--port: '" + std::string(*text) + "' is not a port number (0-65535)");
            }
        } else if (name == "--bind") {
            const auto text = value();
            if (!text) return fail("--bind needs an address");
            options.bindAddress = std::string(*text);
            if (!isIpv4Address(options.bindAddress)) {
                return fail("--bind: '" + options.bindAddress +
                            "' is not an IPv4 address such as 127.0.0.1");
            }
        } else if (name == "--out") {
            const auto text = value();
            if (!text || text->empty()) return fail("--out needs a file name");
            options.outFile = std::string(*text);
        } else if (name == "--raw-after" || name == "--text-after") {
            const auto text = value();
            std::uint64_t lines = 0;
            if (!text) return fail(std::string(name) + " needs a number of lines");
            if (!parseNumber(*text, lines)) {
                return fail(std::string(name) + ": '" + std::string(*text) +
                            "' is not a number of lines");
            }
            (name == "--raw-after" ? options.rawAfter : options.textAfter) = lines;
        } else {
            return fail("unknown argument '" + std::string(arg) + "'");
        }
    }
    return parsed;
}

std::string sinkUsage(const std::string& programName) {
    return "Usage: " + programName +
           " [options]\n"
           "A consumer for the Velgor relay: listens for the relay's connection, shows the\n"
           "station's handshake and the lines it sends (compressed feeds are inflated).\n"
           "\n"
           "  --port P          listen on TCP port P (default 8888; 0 picks a free port)\n"
           "  --bind ADDR       listen on this IPv4 address (default 127.0.0.1)\n"
           "  --count           count the lines instead of printing them\n"
           "  --many            serve every connection at once (a fleet of stations; their\n"
           "                    lines interleave, each handshake names its station)\n"
           "  --out FILE        write the data received (every line, exact bytes, and raw\n"
           "                    bytes in pass-through) to FILE\n"
           "  --raw-after N     after N lines on a connection, send\n"
           "                    \"#SET OUT DATE ORIGINAL\" (raw pass-through)\n"
           "  --text-after N    after N lines on a connection, send \"#SET OUT DATE TEXT\"\n"
           "  --help            show this text\n"
           "\n"
           "On a terminal: 'r' + Enter sends ORIGINAL, 't' + Enter sends TEXT, 'q' + Enter\n"
           "quits. A summary is printed at the end (also on SIGINT and SIGTERM).\n";
}

}  // namespace velgor::sink
