#pragma once

#include <cstddef>

namespace velgor {

// Where the source decoder hands each finished line, in this order:
// forwardLine (only for lines that pass the signal filter), showLine, then
// lineFinished. The running relay implements it with the forwarding rules
// (consumer lock, link state, raw pass-through), the display and the no-data
// watchdog; tests record what arrives.
class LineOutlet {
  public:
    virtual ~LineOutlet() = default;
    // Text lines always; records whose signal level is at least the threshold
    // (both taken as unsigned 32-bit). The line ends in CR LF; the length
    // counts no NUL.
    virtual void forwardLine(const char* line, std::size_t length) = 0;
    // Every finished line: NUL-terminated, CR LF included in length.
    virtual void showLine(const char* line, std::size_t length) = 0;
    // A line was finished, whether forwarded or not (data is flowing).
    virtual void lineFinished() = 0;
};

}  // namespace velgor
