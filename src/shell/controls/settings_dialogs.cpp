#include "shell/controls/settings_dialogs.h"

#include "config/dialog_file_reader.h"
#include "config/lenient_parse.h"
#include "config/settings_file_names.h"
#include "config/settings_writers.h"
#include "links/relay.h"

namespace velgor {
namespace {

// Field texts shown when a dialog's file is missing.
constexpr char DEFAULT_LATITUDE_TEXT[] = "47.198200";
constexpr char DEFAULT_LONGITUDE_TEXT[] = "39.628200";
constexpr char DEFAULT_NAME_TEXT[] = "Kervala";
constexpr char DEFAULT_COMPRESS_STEP_TEXT[] = "50";
constexpr char DEFAULT_THRESHOLD_TEXT[] = "50";
constexpr char DEFAULT_FREQUENCY_TEXT[] = "12000000";
// The threshold that replaces one outside the range of a signal level.
constexpr std::int32_t FALLBACK_THRESHOLD = 50;
constexpr std::int32_t SIGNAL_LEVEL_MAX = 255;

int linkOf(DialogKind kind) {
    return kind == DialogKind::SourceLink ? LINK_SOURCE : LINK_CONSUMER;
}

const char* endpointFileOf(DialogKind kind) {
    return kind == DialogKind::SourceLink ? SETTINGS_FILE_SOURCE_LINK : SETTINGS_FILE_CONSUMER_LINK;
}

std::int32_t integerOf(const Text256& text) {
    return parseLenientInt(text.c_str());
}

DialogFields fieldsOf(std::string_view first, std::string_view second = {}) {
    DialogFields fields;
    fields.texts[0] = first;
    fields.texts[1] = second;
    return fields;
}

// Line 1 of a one-value file: the file's text, with `take` called when the
// line is there; the default text when the file is missing.
template <typename Take>
DialogFields fillFromFirstLine(const std::string& dir, const char* fileName,
                               std::string_view missingText, Take take) {
    const auto file = readDialogLines(dir, fileName);
    if (!file) return fieldsOf(missingText);
    if (file->lineCount == 0) return fieldsOf({});
    return fieldsOf(take(file->lines[0]));
}

DialogFields fillLinkDialog(DialogKind kind, Relay& relay, const std::string& dir) {
    if (const auto file = readDialogLines(dir, endpointFileOf(kind))) {
        return fieldsOf(file->lines[0].view(), file->lines[1].view());
    }
    const LinkEndpoint endpoint = relay.links().endpoint(linkOf(kind));
    return fieldsOf(std::to_string(endpoint.port), endpoint.host.view());
}

}  // namespace

DialogFields fillDialogOnOpening(DialogKind kind, Relay& relay, const std::string& dir) {
    // Opening a dialog takes what its file says into memory, as it shows it.
    auto set = [&](std::int32_t RelaySettings::*field, std::int32_t value) {
        relay.editSettings([&](RelaySettings& s) { s.*field = value; });
    };
    switch (kind) {
        case DialogKind::SourceLink:
        case DialogKind::ConsumerLink:
            return fillLinkDialog(kind, relay, dir);
        case DialogKind::Coordinates:
            if (const auto file = readDialogLines(dir, SETTINGS_FILE_POINT)) {
                return fieldsOf(file->lines[0].view(), file->lines[1].view());
            }
            return fieldsOf(DEFAULT_LATITUDE_TEXT, DEFAULT_LONGITUDE_TEXT);
        case DialogKind::StationName:
            return fillFromFirstLine(dir, SETTINGS_FILE_NAME, DEFAULT_NAME_TEXT,
                                     [&](const Text256& line) {
                                         relay.setStationName(line.view());
                                         return line.view();
                                     });
        case DialogKind::CompressStep:
            return fillFromFirstLine(dir, SETTINGS_FILE_COMPRESS_STEP, DEFAULT_COMPRESS_STEP_TEXT,
                                     [&](const Text256& line) {
                                         set(&RelaySettings::compressTicks, integerOf(line));
                                         return line.view();
                                     });
        case DialogKind::Threshold:
            return fillFromFirstLine(dir, SETTINGS_FILE_THRESHOLD, DEFAULT_THRESHOLD_TEXT,
                                     [&](const Text256& line) -> std::string_view {
                                         const std::int32_t value = integerOf(line);
                                         if (value < 0 || value > SIGNAL_LEVEL_MAX) {
                                             set(&RelaySettings::signalThreshold,
                                                 FALLBACK_THRESHOLD);
                                             return DEFAULT_THRESHOLD_TEXT;
                                         }
                                         set(&RelaySettings::signalThreshold, value);
                                         return line.view();
                                     });
        case DialogKind::TimerFrequency:
            return fillFromFirstLine(dir, SETTINGS_FILE_FREQUENCY, DEFAULT_FREQUENCY_TEXT,
                                     [&](const Text256& line) {
                                         set(&RelaySettings::timerFrequency, integerOf(line));
                                         return line.view();
                                     });
        case DialogKind::NoDataLimit:
            return fieldsOf(std::to_string(relay.settings().noDataLimit));
    }
    return {};
}

void applyDialogOk(DialogKind kind, const DialogFields& fields, Relay& relay,
                   const std::string& dir) {
    auto set = [&](std::int32_t RelaySettings::*field, std::int32_t value) {
        relay.editSettings([&](RelaySettings& s) { s.*field = value; });
    };
    const Text256& first = fields.texts[0];
    const Text256& second = fields.texts[1];
    // A file that cannot be written is not reported and changes nothing in memory:
    // only the no-data limit looks at whether its file was written.
    switch (kind) {
        case DialogKind::SourceLink:
        case DialogKind::ConsumerLink: {
            const int link = linkOf(kind);
            (void)writeEndpointFile(dir, endpointFileOf(kind), first.view(), second.view());
            relay.links().setEndpoint(link, portFromInt(integerOf(first)), second.view());
            // The reconnect thread connects to the new endpoint on its next attempt.
            if (relay.links().isUp(link)) relay.dropLink(link);
            return;
        }
        case DialogKind::Coordinates: {
            const double latitude = parseLenientReal(first.c_str()) * ARC_SECONDS_PER_DEGREE;
            const double longitude = parseLenientReal(second.c_str()) * ARC_SECONDS_PER_DEGREE;
            relay.setStationPosition(latitude, longitude);
            (void)writePointFile(dir, first.view(), second.view());
            return;
        }
        case DialogKind::StationName:
            relay.setStationName(first.view());
            (void)writeNameFile(dir, first.view());
            return;
        case DialogKind::CompressStep:
            set(&RelaySettings::compressTicks, integerOf(first));
            (void)writeCompressStepFile(dir, first.view());
            return;
        case DialogKind::Threshold:
            set(&RelaySettings::signalThreshold, integerOf(first));
            (void)writeThresholdFile(dir, first.view());
            return;
        case DialogKind::TimerFrequency:
            set(&RelaySettings::timerFrequency, integerOf(first));
            // Elapsed receiver times start again from the next timestamped line.
            relay.display().clearTimeReference();
            (void)writeFrequencyFile(dir, first.view());
            return;
        case DialogKind::NoDataLimit:
            if (writeLimitDialogModeFile(dir, relay.settings(), first.view())) {
                set(&RelaySettings::noDataLimit, integerOf(first));
            }
            return;
    }
}

}  // namespace velgor
