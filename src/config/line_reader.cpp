#include "config/line_reader.h"

namespace velgor {

LineReader LineReader::open(const std::string& dir, std::string_view fileName) {
    return LineReader(openSettingsFileForReading(dir, fileName));
}

int LineReader::nextByte() {
    if (!inMemory_) return std::getc(file_.get());
    if (next_ == end_) return EOF;
    return static_cast<unsigned char>(*next_++);
}

void LineReader::unreadByte(int c) {
    if (inMemory_) {
        --next_;
    } else {
        std::ungetc(c, file_.get());
    }
}

int LineReader::nextChar() {
    const int c = nextByte();
    if (c != '\r') return c;
    const int next = nextByte();
    if (next == '\n') return '\n';
    if (next != EOF) unreadByte(next);
    return '\r';
}

bool LineReader::readLine(char* dest, std::size_t size) {
    if (!isOpen() || dest == nullptr || size < 2) return false;
    std::size_t count = 0;
    while (count + 1 < size) {
        const int c = nextChar();
        if (c == EOF) break;
        dest[count++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    if (count == 0) return false;
    dest[count] = '\0';
    return true;
}

}  // namespace velgor
