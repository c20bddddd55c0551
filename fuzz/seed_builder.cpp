// Writes the seed corpora of the fuzz targets into a directory, one
// subdirectory per target:
//   fuzz_source_decoder    the real receiver's binary and text streams (recorded
//                          from dump1090-mutability replaying the radio capture),
//                          their heads and slices, under several headers
//   fuzz_compressed_feed   the receiver's text lines as line operations with ticks
//                          between them, and large blocks
//   fuzz_settings_loader   hand-made settings directories
//   fuzz_consumer_command  the two commands and near misses
//   fuzz_link_host         link files with addresses of both families, bracketed
//                          texts and names, under each look-up answer
//   fuzz_watch_settings    hand-made "watch.ini" files
//
//   velgor_fuzz_seeds OUTDIR

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "settings_sections.h"
#include "support/receiver.h"

namespace {

using velgor::fuzz::encodeSettingsSection;

bool writeSeed(const std::string& dir, const std::string& name, const std::string& bytes) {
    const std::string path = dir + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// Makes the directory and any missing parents.
bool makeDir(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string parent = path.substr(0, slash);
        if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

// The decoder target's header: flags, threshold, clock rate, seed, block scale.
std::string decoderHeader(bool binary, bool relativeTime, std::int32_t threshold, std::uint8_t seed,
                          std::uint8_t scale) {
    std::string h;
    h += static_cast<char>((binary ? 1 : 0) | (relativeTime ? 2 : 0));
    const auto t = static_cast<std::uint32_t>(threshold);
    for (int i = 0; i < 4; ++i) h += static_cast<char>((t >> (8 * i)) & 0xFF);
    h += static_cast<char>(255);  // about 12 MHz
    h += static_cast<char>(seed);
    h += static_cast<char>(scale);
    return h;
}

int writeDecoderSeeds(const std::string& dir, const velgor::test::ReceiverRun& run) {
    int n = 0;
    auto seed = [&](const std::string& name, const std::string& bytes) {
        n += writeSeed(dir, name, bytes) ? 1 : 0;
    };
    const std::string& binary = run.binary;
    const std::string& raw = run.raw;
    const std::string& sbs = run.sbs;
    // The streams' first 2000 bytes (an input of typical size), cut into blocks of up
    // to 2^k bytes.
    constexpr std::size_t HEAD = 2000;
    seed("binary-head", decoderHeader(true, false, 50, 1, 0x0C) + binary.substr(0, HEAD));
    seed("binary-bytewise", decoderHeader(true, true, 100, 2, 0x00) + binary.substr(0, 600));
    seed("raw-head", decoderHeader(false, true, 50, 3, 0x0A) + raw.substr(0, HEAD));
    seed("sbs-head", decoderHeader(false, false, 50, 4, 0x08) + sbs.substr(0, HEAD));
    // Slices from several places, in small blocks, and with mode switches.
    for (std::size_t k = 0; k < 6 && binary.size() > 512; ++k) {
        const std::size_t at = binary.size() / 6 * k;
        seed("binary-slice-" + std::to_string(k),
             decoderHeader(true, k % 2 == 1, static_cast<std::int32_t>(k * 40),
                           static_cast<std::uint8_t>(10 + k), static_cast<std::uint8_t>(0x03 + k)) +
                 binary.substr(at, 512));
    }
    seed("mixed-switching",
         decoderHeader(true, true, 50, 21, 0x46) + binary.substr(0, 1024) + raw.substr(0, 1024));
    seed("text-then-binary",
         decoderHeader(false, false, 0, 22, 0x29) + raw.substr(0, 800) + binary.substr(0, 800));
    return n;
}

int writeFeedSeeds(const std::string& dir, const velgor::test::ReceiverRun& run) {
    const std::vector<std::string> lines = velgor::test::splitLines(run.raw);
    int n = 0;
    // Header: compressTicks, schedule seed, fault chance; then line and tick operations.
    for (int variant = 0; variant < 4; ++variant) {
        std::string seed;
        seed += static_cast<char>(3 + variant * 5);
        seed += static_cast<char>(variant * 17);
        seed += static_cast<char>(variant);
        const auto first = static_cast<std::size_t>(variant) * 40;
        for (std::size_t i = first; i < lines.size() && i < first + 40; ++i) {
            const std::string line = lines[i].substr(0, 255);
            seed += static_cast<char>(3);
            seed += static_cast<char>(line.size());
            seed += line;
            if (i % 7 == 0) seed += static_cast<char>(1 | (static_cast<int>(i % 5) << 2));
        }
        n += writeSeed(dir, "lines-" + std::to_string(variant), seed) ? 1 : 0;
    }
    // Large made blocks (2032 bytes that compress, 2040 that do not) against the
    // smallest batch: batches that overflow, and random ones that need two frames.
    std::string large("\x02\x05\x00", 3);
    large += "\xFE\xFE\xFE\xFF\x06\x02";
    large += std::string("\x00\xFA", 2);
    for (int i = 0; i < 250; ++i) large += static_cast<char>((i * 167 + 13) % 256);
    large += "\xFE\x81";
    n += writeSeed(dir, "large-blocks", large) ? 1 : 0;
    // Batches whose compressed length puts a DLE into the length field: 4095 bytes
    // that do not compress (2040 + 1800 + 255, in the largest batch; length field
    // about 0x100E), and short blocks of a dozen bytes (0x0010 and thereabouts).
    n += writeSeed(dir, "length-high-dle",
                   std::string("\x0A\x07\xF0\xFE\xFF\xFE\xE1\x02\xFF", 9))
             ? 1
             : 0;
    std::string shortBlocks("\x02\x09\x00", 3);
    for (const char* text : {"abcd", "abcde", "abc", "@0123;\r\n", "*8D4840D6;"}) {
        shortBlocks += '\x00';
        shortBlocks += static_cast<char>(std::string(text).size());
        shortBlocks += text;
    }
    n += writeSeed(dir, "length-low-dle", shortBlocks) ? 1 : 0;
    return n;
}

int writeSettingsSeeds(const std::string& dir) {
    // File indexes in the loader's order.
    enum { SERIAL, ICAO, UDP, LOCAL, SOURCE, MODES, CONSUMER, POINT, NAME, THRESHOLD, TICKS, FREQ };
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"none", ""},
        {"all-usual", encodeSettingsSection(SERIAL, "COM3\r\n19200\r\n") +
                          encodeSettingsSection(ICAO, "4CA123\r\n3C6586\r\n") +
                          encodeSettingsSection(UDP, "17219\r\n127.255.255.255\r\n") +
                          encodeSettingsSection(LOCAL, "9999\r\n127.0.0.1\r\n") +
                          encodeSettingsSection(SOURCE, "30005\r\n127.0.0.1\r\n") +
                          encodeSettingsSection(MODES, "1\r\n1\r\n0\r\n60\r\n") +
                          encodeSettingsSection(CONSUMER, "8888\r\nlocalhost\r\n") +
                          encodeSettingsSection(POINT, "47.1982\r\n39.6282\r\n") +
                          // "Станция" in Windows-1251
                          encodeSettingsSection(NAME, "\xD1\xF2\xE0\xED\xF6\xE8\xFF\r\n") +
                          encodeSettingsSection(THRESHOLD, "50\r\n") +
                          encodeSettingsSection(TICKS, "50\r\n") +
                          encodeSettingsSection(FREQ, "12000000\r\n")},
        {"modes-one-line", encodeSettingsSection(MODES, "1\n")},
        {"source-one-line", encodeSettingsSection(SOURCE, "30005\n")},
        {"source-empty", encodeSettingsSection(SOURCE, "")},
        {"ports-wrap", encodeSettingsSection(SOURCE, "65536\n127.0.0.1\n") +
                           encodeSettingsSection(CONSUMER, "7777 and words\nhost\n") +
                           encodeSettingsSection(UDP, "-1\n")},
        {"cr-only", encodeSettingsSection(MODES, "1\n0\n1\n600\n", true) +
                        encodeSettingsSection(POINT, "47.5\n-2.25\n", true) +
                        encodeSettingsSection(SERIAL, "COM7\n4800\n", true)},
        {"point-comma", encodeSettingsSection(POINT, "47,5\n39,6\n")},
        {"point-exponents", encodeSettingsSection(POINT, "4.7e1\n-1e400\n")},
        {"huge-numbers", encodeSettingsSection(THRESHOLD, "300\n") +
                             encodeSettingsSection(TICKS, "99999999999999999999999\n") +
                             encodeSettingsSection(FREQ, "-2147483649\n") +
                             encodeSettingsSection(MODES, "  +7\n-0\n2147483648\n\t-12x\n")},
        {"nul-bytes", encodeSettingsSection(NAME, std::string("Ker\0vala\n", 9)) +
                          encodeSettingsSection(SOURCE, std::string("12\0003\nho\0st\n", 11))},
        {"long-lines", encodeSettingsSection(
                           NAME, "NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN", false, 100) +
                           encodeSettingsSection(UDP, "1234567890", false, 21) +
                           encodeSettingsSection(SOURCE, "7", false, 11)},
        {"mode-line-split", encodeSettingsSection(MODES, std::string(130, '1') + "\n5\n")},
    };
    int n = 0;
    for (const auto& [name, bytes] : seeds) n += writeSeed(dir, name, bytes) ? 1 : 0;
    return n;
}

int writeCommandSeeds(const std::string& dir) {
    const std::string raw = "#SET OUT DATE ORIGINAL\r\n";
    const std::string text = "#SET OUT DATE TEXT\r\n";
    auto block = [](const std::string& bytes) {
        return std::string(1, static_cast<char>(bytes.size())) + bytes;
    };
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"raw-then-text", block(raw) + block(text)},
        {"raw-with-tail", block(raw + "x")},
        {"two-in-one", block(raw + text)},
        {"split", block(raw.substr(0, 10)) + block(raw.substr(10))},
        {"no-crlf", block("#SET OUT DATE ORIGINAL") + block(text)},
    };
    int n = 0;
    for (const auto& [name, bytes] : seeds) n += writeSeed(dir, name, bytes) ? 1 : 0;
    return n;
}

int writeLinkHostSeeds(const std::string& dir) {
    using namespace std::string_literals;
    // Flag byte: bit 0 the consumer's file, bits 1-2 the look-up's answer (none,
    // IPv4, IPv6, both).
    const std::vector<std::tuple<std::string, int, std::string>> seeds = {
        {"dotted", 0, "30005\r\n127.0.0.1\r\n"},
        {"dotted-short", 1, "8888\r\n127.1\r\n"},
        {"dotted-space", 0, "30005\r\n10.0.0.1 x\r\n"},
        {"ipv6-plain", 1, "8888\r\n::1\r\n"},
        {"ipv6-bracketed", 0, "30005\r\n[2001:db8::7]\r\n"},
        {"ipv6-mapped", 1, "8888\n[::ffff:192.0.2.1]\n"},
        {"bracketed-dotted", 0, "30005\r\n[127.0.0.1]\r\n"},
        {"bracketed-name", 1, "8888\r\n[localhost]\r\n"},
        // Once taken as 127.0.0.1 (inet_aton reads up to the space), and handed to
        // the look-up: brackets now take a whole IPv6 address only.
        {"bracketed-dotted-space", 0, "30005\r\n[127.0.0.1 :]\r\n"},
        {"bracketed-colon", 2, "30005\r\n[a:b]\r\n"},
        {"bracketed-scoped", 4, "30005\r\n[fe80::1%eth0]\r\n"},
        {"bracket-open", 0, "30005\r\n[::1\r\n"},
        {"name-none", 0, "30005\r\nno-such-host.invalid\r\n"},
        {"name-ipv4", 3, "8888\r\nlocalhost\r\n"},
        {"name-both", 6, "8888\r\nserver.example\r\n"},
        {"port-only", 2, "30005\r\n"},
        {"empty-host", 2, "30005\r\n\r\n"},
        {"nul-in-host", 4, "30005\n12\0007.0.0.1\n"s},
        {"long-host", 2, "30005\n" + std::string(300, 'h') + "\n"},
    };
    int n = 0;
    for (const auto& [name, flags, bytes] : seeds) {
        n += writeSeed(dir, name, std::string(1, static_cast<char>(flags)) + bytes) ? 1 : 0;
    }
    return n;
}

int writeWatchSeeds(const std::string& dir) {
    using namespace std::string_literals;
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"usual", "60\r\n/var/lib/velgor\r\n"},
        {"interval-only", "5\n"},
        {"no-line-end", "30"},
        {"lone-cr", "10\r/tmp/metrics\r"},
        {"off", "0\r\n\r\n"},
        {"negative", "-1\nmetrics\n"},
        {"out-of-range", "  +99999999999\n\tdir with spaces \n"},
        {"words", "x12\nC:\\velgor\\metrics\r\n"},
        {"nul-bytes", "6\0000\nme\0trics\n"s},
        {"long-first-line", std::string(1100, '7') + "\nafter\n"},
        {"long-directory", "1\n" + std::string(1030, 'd') + "\n"},
    };
    int n = 0;
    for (const auto& [name, bytes] : seeds) n += writeSeed(dir, name, bytes) ? 1 : 0;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const std::string dirs[] = {out,
                                out + "/fuzz_source_decoder",
                                out + "/fuzz_compressed_feed",
                                out + "/fuzz_settings_loader",
                                out + "/fuzz_consumer_command",
                                out + "/fuzz_link_host",
                                out + "/fuzz_watch_settings"};
    for (const std::string& d : dirs) {
        if (!makeDir(d)) {
            std::perror(d.c_str());
            return 1;
        }
    }

    const int settings = writeSettingsSeeds(dirs[3]);
    const int commands = writeCommandSeeds(dirs[4]);
    const int hosts = writeLinkHostSeeds(dirs[5]);
    const int watch = writeWatchSeeds(dirs[6]);

    velgor::test::ReceiverOptions options;
    options.modeAC = true;
    const velgor::test::ReceiverRun run = velgor::test::captureReceiverRun(options);
    if (!run.complete || run.binary.empty() || run.raw.empty()) {
        std::fprintf(stderr, "receiver run failed: %s\n", run.error.c_str());
        return 1;
    }
    const int decoder = writeDecoderSeeds(dirs[1], run);
    const int feed = writeFeedSeeds(dirs[2], run);
    std::printf(
        "seeds: decoder %d (binary stream %zu bytes, raw %zu, sbs %zu), feed %d, settings %d, "
        "commands %d, link hosts %d, watch %d\n",
        decoder, run.binary.size(), run.raw.size(), run.sbs.size(), feed, settings, commands, hosts,
        watch);
    return 0;
}
