#include "e2e/recorded_stream.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "decode/record_line.h"
#include "e2e/child_process.h"
#include "support/receiver.h"

namespace velgor::e2e {
namespace {

constexpr std::uint8_t ESCAPE = 0x1A;
constexpr std::size_t LEVEL_OFFSET = 8;

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::vector<BinaryRecord> splitBinaryRecords(std::string_view stream) {
    std::vector<BinaryRecord> records;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    const std::size_t n = stream.size();
    std::size_t at = 0;
    while (at + 1 < n) {
        const std::size_t length = bytes[at] == ESCAPE ? recordLength(bytes[at + 1]) : 0;
        if (length == 0) {
            ++at;
            continue;
        }
        BinaryRecord record;
        record.length = length;
        record.body[0] = ESCAPE;
        record.body[1] = bytes[at + 1];
        std::size_t filled = 2;
        std::size_t next = at + 2;
        bool broken = false;
        while (filled < length && next < n) {
            if (bytes[next] == ESCAPE) {
                if (next + 1 >= n || bytes[next + 1] != ESCAPE) {
                    broken = true;  // a new record begins inside this one
                    break;
                }
                ++next;
            }
            record.body[filled++] = bytes[next++];
        }
        if (broken || filled < length) {
            ++at;
            continue;
        }
        record.wire.assign(stream.substr(at, next - at));
        records.push_back(std::move(record));
        at = next;
    }
    return records;
}

std::string recordLine(const BinaryRecord& record) {
    std::string line = "@";
    char pair[3];
    for (std::size_t i = 2; i < record.length; ++i) {
        if (i == LEVEL_OFFSET) continue;
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(record.body[i]));
        line += pair;
    }
    line += ";\r\n";
    return line;
}

std::string recordWithSerial(const BinaryRecord& record, std::uint64_t serial) {
    std::array<std::uint8_t, 23> body = record.body;
    for (std::size_t i = 0; i < 6; ++i) {
        body[7 - i] = static_cast<std::uint8_t>(serial >> (8 * i));
    }
    std::string wire;
    wire.push_back(static_cast<char>(ESCAPE));
    wire.push_back(static_cast<char>(body[1]));
    for (std::size_t i = 2; i < record.length; ++i) {
        wire.push_back(static_cast<char>(body[i]));
        if (body[i] == ESCAPE) wire.push_back(static_cast<char>(ESCAPE));
    }
    return wire;
}

bool lineSerial(std::string_view line, std::uint64_t& serial) {
    if (line.size() < 13 || line[0] != '@') return false;
    serial = 0;
    for (std::size_t i = 1; i <= 12; ++i) {
        const int digit = hexValue(line[i]);
        if (digit < 0) return false;
        serial = serial * 16 + static_cast<std::uint64_t>(digit);
    }
    return true;
}

std::uint64_t bodySerial(const std::uint8_t* body) {
    std::uint64_t serial = 0;
    for (std::size_t i = 2; i < 8; ++i) serial = (serial << 8) | body[i];
    return serial;
}

Workload binaryWorkload(std::string_view stream) {
    Workload workload;
    workload.name = "binary";
    workload.binary = true;
    workload.records = splitBinaryRecords(stream);
    for (const BinaryRecord& record : workload.records) {
        workload.pass += record.wire;
        workload.expectedPass += recordLine(record);
        workload.units.push_back(record.wire);
    }
    workload.unitsPerPass = workload.records.size();
    return workload;
}

Workload textWorkload(std::string_view stream) {
    Workload workload;
    workload.name = "text";
    workload.binary = false;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t end = stream.find('\n', at);
        if (end == std::string_view::npos) break;  // a line cut off at the end
        const std::string_view wire = stream.substr(at, end + 1 - at);
        at = end + 1;
        std::string_view text = wire.substr(0, wire.size() - 1);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        const bool taken =
            (!text.empty() && (text[0] == '*' || text[0] == '@')) || text.substr(0, 3) == "MSG";
        if (!taken) continue;
        workload.pass += wire;
        workload.expectedPass += text;
        workload.expectedPass += "\r\n";
        workload.units.emplace_back(wire);
    }
    workload.unitsPerPass = workload.units.size();
    return workload;
}

Recording loadOrRecord(const std::string& directory) {
    Recording recording;
    const std::string binaryPath = directory + "/binary.bin";
    const std::string msgPath = directory + "/msg.txt";
    if (fileExists(binaryPath) && fileExists(msgPath)) {
        recording.binary = readWholeFile(binaryPath);
        recording.msgLines = readWholeFile(msgPath);
        return recording;
    }
    // One pass over the capture, as fast as the receiver decodes it.
    test::ReceiverOptions options;
    options.mlat = true;
    options.modeAC = true;
    options.throttle = false;
    options.replays = 1;
    test::ReceiverRun run = test::captureReceiverRun(options);
    if (!run.complete) {
        recording.error = "recording from the receiver failed: " + run.error;
        return recording;
    }
    recording.binary = std::move(run.binary);
    recording.msgLines = std::move(run.sbs);
    if (recording.binary.empty() || recording.msgLines.empty()) {
        recording.error = "the receiver served an empty stream";
        return recording;
    }
    if (!writeFile(binaryPath, recording.binary) || !writeFile(msgPath, recording.msgLines)) {
        recording.error = "cannot write the recording into " + directory;
    }
    return recording;
}

}  // namespace velgor::e2e
