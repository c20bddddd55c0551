#include "report/prometheus_text.h"

#include <string_view>

#include "report/text_escapes.h"

namespace velgor {
namespace {

struct Label {
    std::string_view name;
    std::string_view value;
};

// Writes metric families: one "# HELP" and "# TYPE" each, then its samples.
class MetricWriter {
  public:
    MetricWriter(std::string& out, const StationSnapshot& snapshot) : out_(out) {
        // The labels every sample carries.
        appendLabelValue(common_.append("station="), snapshot.stationName);
        appendLabelValue(common_.append(",relay="), snapshot.relayId);
    }

    void family(std::string_view name, std::string_view type, std::string_view help) {
        name_ = name;
        out_.append("# HELP ").append(name).append(" ").append(help).append("\n");
        out_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
    }

    template <typename Value>
    void sample(Value value, std::initializer_list<Label> labels = {}) {
        out_.append(name_).append("{").append(common_);
        for (const Label& label : labels) {
            appendLabelValue(out_.append(",").append(label.name).append("="), label.value);
        }
        out_.append("} ");
        appendNumber(out_, value);
        out_ += '\n';
    }

  private:
    std::string& out_;
    std::string common_;
    std::string_view name_;
};

std::uint64_t flag(bool on) {
    return on ? 1 : 0;
}

void writeLinks(MetricWriter& metrics, const StationSnapshot& snapshot) {
    metrics.family("velgor_link_up", "gauge", "Whether the link is connected (1) or not (0).");
    for (const LinkSnapshot& link : snapshot.links) {
        metrics.sample(flag(link.up), {{"link", link.name}});
    }
    metrics.family("velgor_link_connected_since_timestamp_seconds", "gauge",
                   "When the link's present connection was made, while it is up.");
    for (const LinkSnapshot& link : snapshot.links) {
        if (link.connectedSince) metrics.sample(*link.connectedSince, {{"link", link.name}});
    }
    metrics.family("velgor_link_connections_total", "counter",
                   "Connections the link made since the relay started.");
    for (const LinkSnapshot& link : snapshot.links) {
        metrics.sample(link.connectionsMade, {{"link", link.name}});
    }
    metrics.family("velgor_link_drops_total", "counter",
                   "Connections of the link that ended, by cause.");
    for (const LinkSnapshot& link : snapshot.links) {
        for (std::size_t cause = 0; cause < link.lostBy.size(); ++cause) {
            metrics.sample(link.lostBy[cause],
                           {{"link", link.name}, {"cause", dropCauseName(cause)}});
        }
    }
}

void writeTraffic(MetricWriter& metrics, const StationSnapshot& snapshot) {
    const TrafficCounts& counts = snapshot.counts;
    for (const TrafficCounter& counter : TRAFFIC_COUNTERS) {
        metrics.family(counter.metricName, "counter", counter.help);
        metrics.sample(counts.*counter.value);
    }
    metrics.family("velgor_compression_ratio", "gauge",
                   "Batch bytes per frame byte since the relay started.");
    if (const auto ratio = compressionRatio(counts)) metrics.sample(*ratio);
    metrics.family("velgor_consumer_queue_bytes", "gauge", "Bytes waiting for the consumer.");
    metrics.sample(snapshot.queuedBytes);
    metrics.family("velgor_source_held", "gauge",
                   "Whether the receiver is held back while the consumer's queue is full.");
    metrics.sample(flag(snapshot.sourceHeld));
    metrics.family("velgor_source_last_line_age_seconds", "gauge",
                   "Seconds since the receiver's last line.");
    if (snapshot.secondsSinceLastLine) metrics.sample(*snapshot.secondsSinceLastLine);
}

}  // namespace

std::string formatPrometheusText(const StationSnapshot& snapshot) {
    std::string out;
    MetricWriter metrics(out, snapshot);
    metrics.family("velgor_info", "gauge", "The relay's version, always 1.");
    metrics.sample(std::uint64_t{1}, {{"version", snapshot.version}});
    metrics.family("velgor_start_time_seconds", "gauge", "When the relay started.");
    metrics.sample(snapshot.started);
    metrics.family("velgor_metrics_last_write_timestamp_seconds", "gauge",
                   "When the relay wrote this file.");
    metrics.sample(snapshot.written);
    writeLinks(metrics, snapshot);
    writeTraffic(metrics, snapshot);
    return out;
}

}  // namespace velgor
