#include "links/link_table.h"

namespace velgor {

LinkTable::LinkTable() {
    slot(LINK_LOCAL).port = DEFAULT_LOCAL_PORT;
    slot(LINK_SOURCE).port = DEFAULT_SOURCE_PORT;
    slot(LINK_CONSUMER).port = DEFAULT_CONSUMER_PORT;
}

LinkEndpoint LinkTable::endpoint(int link) const {
    std::lock_guard lock(guard_);
    const LinkSlot& s = slot(link);
    return LinkEndpoint{s.port, s.host};
}

void LinkTable::setEndpoint(int link, std::uint16_t port, std::string_view host) {
    std::lock_guard lock(guard_);
    slot(link).port = port;
    slot(link).host = host;
}

Text256 LinkTable::statusText(int link) const {
    std::lock_guard lock(guard_);
    return slot(link).statusText;
}

void LinkTable::setStatusText(int link, std::string_view text) {
    std::lock_guard lock(guard_);
    slot(link).statusText = text;
}

}  // namespace velgor
