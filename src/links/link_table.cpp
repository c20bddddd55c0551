#include "links/link_table.h"

namespace velgor {

LinkTable::LinkTable() {
    setEndpoint(LINK_LOCAL, DEFAULT_LOCAL_PORT, "127.0.0.1");
    setEndpoint(LINK_SOURCE, DEFAULT_SOURCE_PORT, "127.0.0.1");
    setEndpoint(LINK_CONSUMER, DEFAULT_CONSUMER_PORT, "127.0.0.1");
}

LinkEndpoint LinkTable::endpoint(int link) const {
    MutexLock lock(guard_);
    return described_[static_cast<std::size_t>(link)].endpoint;
}

void LinkTable::setEndpoint(int link, std::uint16_t port, std::string_view host) {
    MutexLock lock(guard_);
    LinkEndpoint& endpoint = described_[static_cast<std::size_t>(link)].endpoint;
    endpoint.port = port;
    endpoint.host = host;
}

Text256 LinkTable::statusText(int link) const {
    MutexLock lock(guard_);
    return described_[static_cast<std::size_t>(link)].statusText;
}

void LinkTable::setStatusText(int link, std::string_view text) {
    MutexLock lock(guard_);
    described_[static_cast<std::size_t>(link)].statusText = text;
}

}  // namespace velgor
