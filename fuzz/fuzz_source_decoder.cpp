// Fuzzes the receiver-stream decoder in both modes, with the stream cut into
// blocks at input-chosen points and the mode, the signal threshold and the
// display options switched between blocks. Every line handed out is checked for
// its form, and the whole run is compared, line for line and state for state,
// with the byte-at-a-time decoder model; the lines also go through the
// receive-time display into the message log.
//
// Input: an 8-byte header, then the stream.
//   0     bit 0: binary mode at the start; bit 1: relative-time display on;
//         bit 2: display off
//   1..4  signal threshold (32-bit, little-endian)
//   5     receiver clock rate: the byte times 47059 counts per second (0 = none)
//   6     schedule seed (block lengths, switches, clock steps)
//   7     low 4 bits: blocks of 1 .. 2^n bytes; high 4 bits: chance of a mode
//         switch between blocks, in sixteenths

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "config/relay_settings.h"
#include "decode/line_outlet.h"
#include "decode/receive_time_display.h"
#include "decode/source_decoder.h"
#include "decoder_model.h"
#include "fuzz_check.h"
#include "log/message_log.h"
#include "split_schedule.h"

namespace {

using velgor::fuzz::DecoderModel;
using velgor::fuzz::ModelLine;
using velgor::fuzz::ModelLines;
using velgor::fuzz::SplitSchedule;

constexpr std::size_t HEADER_BYTES = 8;
constexpr std::size_t LONGEST_LINE = 1023 + 2;  // collected bytes, CR LF
constexpr std::size_t LOG_TEXT_MAX = velgor::LOG_SLOT_BYTES - 1;
// "прм = " opens every text with elapsed times.
constexpr const char* RECEIVER_TIME_LABEL = "\xEF\xF0\xEC = ";

// Checks each hand-over as it comes (forward, then show, then finished, for the
// same line) and compares each line, as it comes, with the model's line of the
// same place in the block.
class CheckingOutlet : public velgor::LineOutlet {
  public:
    CheckingOutlet(velgor::ReceiveTimeDisplay& display, velgor::MessageLog& log,
                   const ModelLines& expected)
        : display_(display), log_(log), expected_(expected) {}

    void forwardLine(const char* line, std::size_t length) override {
        FUZZ_CHECK(!forwardPending_ && !showPending_, "forward out of order");
        checkLineForm(line, length);
        forwarded_.assign(line, length);
        forwardPending_ = true;
    }

    void showLine(const char* line, std::size_t length) override {
        FUZZ_CHECK(!showPending_, "show without the finish of the line before");
        checkLineForm(line, length);
        if (forwardPending_) {
            FUZZ_CHECK(
                forwarded_.size() == length && std::memcmp(forwarded_.data(), line, length) == 0,
                "forwarded and shown lines differ");
        }
        FUZZ_CHECK(seen_ < expected_.size(), "line count differs from the model");
        const ModelLine& wanted = expected_[seen_++];
        FUZZ_CHECK(wanted.text.size() == length && std::memcmp(wanted.text.data(), line, length) == 0,
                   "line differs from the model");
        FUZZ_CHECK(wanted.forwarded == forwardPending_, "forwarding differs from the model");
        forwardPending_ = false;
        showPending_ = true;
        showThroughDisplay(line, length);
    }

    void lineFinished() override {
        FUZZ_CHECK(showPending_ && !forwardPending_, "finish without a shown line");
        showPending_ = false;
    }

    void checkIdle() const { FUZZ_CHECK(!showPending_ && !forwardPending_, "line not finished"); }

    // The lines of the block so far; the next block starts counting again.
    std::size_t seen() const { return seen_; }
    void nextBlock() { seen_ = 0; }

  private:
    static void checkLineForm(const char* line, std::size_t length) {
        FUZZ_CHECK(length >= 3 && length <= LONGEST_LINE, "line length out of range");
        FUZZ_CHECK(line[length] == '\0', "line not NUL-terminated");
        FUZZ_CHECK(line[length - 2] == '\r' && line[length - 1] == '\n', "line without CR LF");
        // A line ends at its first NUL; CR and LF bytes may stand inside it only when
        // binary mode collected them before a switch to text mode.
        FUZZ_CHECK(std::memchr(line, '\0', length) == nullptr, "NUL inside a line");
        FUZZ_CHECK(line[0] == '*' || line[0] == '@' || std::strncmp(line, "MSG", 3) == 0,
                   "line with a first character that is never taken");
    }

    void showThroughDisplay(const char* line, std::size_t length) {
        const int before = log_.newestSlot();
        display_.displayReceivedLine(line, length);
        if (display_.displayEnabled() == 0) {
            FUZZ_CHECK(log_.newestSlot() == before, "stored while the display is off");
            return;
        }
        FUZZ_CHECK(log_.newestSlot() != before, "a shown line was not stored");
        const char* stored = log_.slotText(log_.newestSlot());
        const std::size_t storedLength = strnlen(stored, velgor::LOG_SLOT_BYTES);
        FUZZ_CHECK(storedLength <= LOG_TEXT_MAX, "log slot not NUL-terminated");
        if (display_.relativeTimeMode() == 0 || line[0] != '@') {
            const std::size_t expected = length < LOG_TEXT_MAX ? length : LOG_TEXT_MAX;
            FUZZ_CHECK(storedLength == expected && std::memcmp(stored, line, expected) == 0,
                       "line stored changed");
            return;
        }
        FUZZ_CHECK(std::strncmp(stored, RECEIVER_TIME_LABEL, std::strlen(RECEIVER_TIME_LABEL)) == 0,
                   "relative time without its label");
        if (storedLength < LOG_TEXT_MAX) {  // not cut: the line is its tail
            FUZZ_CHECK(storedLength > length &&
                           std::memcmp(stored + storedLength - length, line, length) == 0,
                       "relative-time text does not end with the line");
        }
    }

    velgor::ReceiveTimeDisplay& display_;
    velgor::MessageLog& log_;
    const ModelLines& expected_;
    std::size_t seen_ = 0;
    std::string forwarded_;
    bool forwardPending_ = false;
    bool showPending_ = false;
};

// How much of the assembled bytes the last comparison covered. Comparing the
// whole buffer after each block would cost a run time in the square of a line's
// length when the blocks are a byte or two; the bytes compared before are
// compared again after a line, a restart, every 64th block and at the end.
struct AssembledCheck {
    static constexpr unsigned FULL_EVERY = 64;
    int comparedFill = 0;
    unsigned blocks = 0;
};

// Checks that the last block gave all the model's lines and compares the state
// after it; the lines are dropped afterwards, so that each run costs time in
// proportion to its length.
void compareWithModel(CheckingOutlet& outlet, ModelLines& expected,
                      const velgor::SourceDecoder& decoder, const DecoderModel& model,
                      AssembledCheck& check, bool last = false) {
    FUZZ_CHECK(outlet.seen() == expected.size(), "line count differs from the model");
    const bool lineEnded = expected.size() != 0;
    outlet.nextBlock();
    expected.clear();
    const int fill = decoder.fillCount();
    FUZZ_CHECK(fill >= 0 && fill <= velgor::SourceDecoder::MAX_FILL, "fill count out of range");
    FUZZ_CHECK(fill == model.fillCount(), "fill count differs from the model");
    FUZZ_CHECK(decoder.lastSourceByte() == model.lastSourceByte(),
               "escape tracker differs from the model");
    const bool whole = last || lineEnded || fill < check.comparedFill ||
                       ++check.blocks % AssembledCheck::FULL_EVERY == 0;
    const auto from = static_cast<std::size_t>(whole ? 0 : check.comparedFill);
    FUZZ_CHECK(std::memcmp(decoder.lineBuffer() + from, model.buffer() + from,
                           static_cast<std::size_t>(fill) - from) == 0,
               "assembled bytes differ from the model");
    check.comparedFill = fill;
}

std::int32_t readInt32(const std::uint8_t* p) {
    const std::uint32_t value = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < HEADER_BYTES) return 0;
    const std::uint8_t flags = data[0];
    velgor::RelaySettings settings;
    settings.binaryMode = flags & 1;
    settings.signalThreshold = readInt32(data + 1);
    settings.timerFrequency = static_cast<std::int32_t>(std::uint32_t{data[5]} * 47059u);
    SplitSchedule schedule(data[6]);
    const std::size_t maxBlock = std::size_t{1} << (data[7] & 15);
    const unsigned switchChance = data[7] >> 4;

    // The parts are made anew for each run in storage kept between runs: fresh
    // stack or heap blocks of this size (about 80 KB) would cost the sanitizer new
    // zeroed pages each time, and the kept line strings spare an allocation a line.
    static std::int64_t now;
    static std::optional<velgor::MessageLog> log;
    static std::optional<velgor::ReceiveTimeDisplay> display;
    static std::optional<CheckingOutlet> outlet;
    static std::optional<velgor::SourceDecoder> decoder;
    static std::optional<DecoderModel> model;
    static ModelLines expected;
    now = 1700000000;
    log.emplace();
    display.emplace(settings, *log, [] { return now; });
    display->setRelativeTimeMode((flags >> 1) & 1);
    display->setDisplayEnabled(((flags >> 2) & 1) == 0 ? 1 : 0);
    expected.clear();
    outlet.emplace(*display, *log, expected);
    decoder.emplace(settings, *outlet);
    model.emplace();

    const std::uint8_t* stream = data + HEADER_BYTES;
    const std::size_t streamLength = size - HEADER_BYTES;
    std::size_t offset = 0;
    AssembledCheck check;
    while (offset < streamLength) {
        const std::size_t left = streamLength - offset;
        const std::size_t block = schedule.upTo(maxBlock < left ? maxBlock : left);
        // The model goes first: the outlet compares the decoder's lines as they come.
        model->decodeBlock(stream + offset, block, settings.binaryMode != 0,
                           settings.signalThreshold, expected);
        decoder->decodeSourceBlock(stream + offset, static_cast<int>(block));
        outlet->checkIdle();
        offset += block;
        compareWithModel(*outlet, expected, *decoder, *model, check, offset == streamLength);

        // Between blocks: a tick of the pane, and perhaps switches.
        log->logMessage(nullptr, velgor::LOG_SHOW_NEWEST);
        now += schedule.chance(1) ? schedule.next() % 200000 : schedule.next() % 3;
        if (schedule.chance(switchChance)) settings.binaryMode = settings.binaryMode != 0 ? 0 : 1;
        if (switchChance != 0 && schedule.chance(1)) {
            // Thresholds near the level range, beyond it and negative.
            settings.signalThreshold = static_cast<std::int32_t>(schedule.next() % 300) - 20;
        }
        if (switchChance != 0 && schedule.chance(1)) display->toggleRelativeTimeMode();
        if (switchChance != 0 && schedule.chance(1)) display->toggleDisplayEnabled();
        if (schedule.chance(1)) {
            // Empty and negative counts consume nothing.
            const int before = decoder->fillCount();
            decoder->decodeSourceBlock(stream + offset, -static_cast<int>(schedule.next() % 2));
            FUZZ_CHECK(decoder->fillCount() == before, "an empty block changed the decoder");
            compareWithModel(*outlet, expected, *decoder, *model, check);
        }
    }
    return 0;
}
