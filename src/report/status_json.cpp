#include "report/status_json.h"

#include <optional>
#include <string_view>

#include "report/text_escapes.h"

namespace velgor {
namespace {

// Builds one JSON object, member by member, indented two spaces a level.
class JsonObject {
  public:
    JsonObject(std::string& out, int depth) : out_(out), depth_(depth) { out_ += '{'; }
    ~JsonObject() {
        out_ += '\n';
        indent(depth_);
        out_ += '}';
    }
    JsonObject(const JsonObject&) = delete;
    JsonObject& operator=(const JsonObject&) = delete;

    // Starts a member; its value is appended next.
    std::string& key(std::string_view name) {
        if (!first_) out_ += ',';
        first_ = false;
        out_ += '\n';
        indent(depth_ + 1);
        appendJsonString(out_, name);
        out_ += ": ";
        return out_;
    }
    void text(std::string_view name, std::string_view utf8) { appendJsonString(key(name), utf8); }
    void count(std::string_view name, std::uint64_t value) { appendNumber(key(name), value); }
    void number(std::string_view name, double value) { appendNumber(key(name), value); }
    void seconds(std::string_view name, std::optional<double> value) {
        if (value) {
            appendSeconds(key(name), *value);
        } else {
            key(name) += "null";
        }
    }
    void flag(std::string_view name, bool value) { key(name) += value ? "true" : "false"; }
    int depth() const { return depth_ + 1; }

  private:
    void indent(int depth) { out_.append(static_cast<std::size_t>(depth) * 2, ' '); }

    std::string& out_;
    int depth_;
    bool first_ = true;
};

void appendLink(std::string& out, int depth, const LinkSnapshot& link) {
    JsonObject object(out, depth);
    object.text("state", link.state);
    object.text("status", link.status);
    object.text("host", link.host);
    object.count("port", link.port);
    object.seconds("connected_since", link.connectedSince);
    object.count("connections", link.connectionsMade);
    object.key("drops");
    JsonObject drops(out, object.depth());
    for (std::size_t cause = 0; cause < link.lostBy.size(); ++cause) {
        drops.count(dropCauseName(cause), link.lostBy[cause]);
    }
}

void appendTraffic(std::string& out, int depth, const StationSnapshot& snapshot) {
    const TrafficCounts& counts = snapshot.counts;
    JsonObject object(out, depth);
    for (const TrafficCounter& counter : TRAFFIC_COUNTERS) {
        object.count(counter.jsonName, counts.*counter.value);
    }
    if (const auto ratio = compressionRatio(counts)) {
        object.number("compression_ratio", *ratio);
    } else {
        object.key("compression_ratio") += "null";
    }
    object.count("consumer_queue_bytes", snapshot.queuedBytes);
    object.flag("source_held", snapshot.sourceHeld);
    object.count("watchdog_drops",
                 counts.lostBy[LINK_SOURCE][static_cast<std::size_t>(DropCause::Watchdog)]);
    object.seconds("seconds_since_last_line", snapshot.secondsSinceLastLine);
}

}  // namespace

std::string formatStatusJson(const StationSnapshot& snapshot) {
    std::string out;
    {
        JsonObject root(out, 0);
        root.seconds("written", snapshot.written);
        root.seconds("expires", snapshot.expires);
        root.text("version", snapshot.version);
        root.seconds("started", snapshot.started);
        root.text("relay", snapshot.relayId);
        root.key("station");
        {
            JsonObject station(out, root.depth());
            station.text("name", snapshot.stationName);
            station.number("latitude", snapshot.latitude);
            station.number("longitude", snapshot.longitude);
        }
        root.key("links");
        {
            JsonObject links(out, root.depth());
            for (const LinkSnapshot& link : snapshot.links) {
                links.key(link.name);
                appendLink(out, links.depth(), link);
            }
        }
        root.key("traffic");
        appendTraffic(out, root.depth(), snapshot);
    }
    out += '\n';
    return out;
}

}  // namespace velgor
