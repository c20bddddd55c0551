#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velgor::e2e {

// One 0x1A-framed record of the receiver's binary stream: its bytes on the
// wire (escapes doubled) and its content with the escapes removed (0x1A, type,
// 6-byte timestamp, level, message).
struct BinaryRecord {
    std::string wire;
    std::array<std::uint8_t, 23> body{};
    std::size_t length = 0;  // 11, 16 or 23
};

// The whole records of a binary stream, in order; bytes outside records and a
// record cut off at the end are left out.
std::vector<BinaryRecord> splitBinaryRecords(std::string_view stream);

// The text line the relay makes of a record: '@', the timestamp and message
// bytes in upper-case hex (level left out), ";\r\n".
std::string recordLine(const BinaryRecord& record);

// The record with its timestamp replaced by `serial` (48 bits), escaped for the
// wire: lets a reader tell which write a line came from.
std::string recordWithSerial(const BinaryRecord& record, std::uint64_t serial);

// A timestamp (12 hex digits after the first byte of an '@' line, or the six
// bytes of a record body); false when the text holds none.
bool lineSerial(std::string_view line, std::uint64_t& serial);
std::uint64_t bodySerial(const std::uint8_t* body);

// What the harness plays to a relay, and what a relay must deliver for it.
// A unit is one record (binary) or one taken line (text).
struct Workload {
    std::string name;
    bool binary = true;
    std::string pass;                   // one pass of the recording, whole units
    std::size_t unitsPerPass = 0;       // units a relay forwards per pass (threshold 0)
    std::string expectedPass;           // the relay's lines for one pass
    std::vector<std::string> units;     // each unit's wire bytes, in order
    std::vector<BinaryRecord> records;  // binary only
};

Workload binaryWorkload(std::string_view stream);
// Lines ended by LF (a CR before it is kept on the wire); lines that do not
// begin with '*', '@' or "MSG" are left out of the pass altogether.
Workload textWorkload(std::string_view stream);

// The receiver's streams of one pass over the radio capture, recorded once with
// the real receiver and kept in `directory` (binary.bin, msg.txt) for later runs.
struct Recording {
    std::string binary;
    std::string msgLines;
    std::string error;  // empty when both are there
};
Recording loadOrRecord(const std::string& directory);

}  // namespace velgor::e2e
