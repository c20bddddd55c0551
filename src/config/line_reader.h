#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "config/settings_path.h"

namespace velgor {

// Reads a settings file line by line the way a text-mode stream of the Windows
// C run-time does, on every platform: a CR immediately followed by LF reads as
// a single LF, and any other CR is an ordinary character. It reads an open file,
// or a file's bytes already in memory, by the same rules.
class LineReader {
  public:
    explicit LineReader(StdioFile file) : file_(std::move(file)) {}
    // Reads the bytes in place: they must outlive the reader.
    explicit LineReader(std::string_view bytes)
        : inMemory_(true), next_(bytes.data()), end_(bytes.data() + bytes.size()) {}

    // Opens a settings file; the reader is not open() when the file is absent.
    [[nodiscard]] static LineReader open(const std::string& dir, std::string_view fileName);

    bool isOpen() const { return inMemory_ || file_ != nullptr; }

    // One bounded line read into dest of size bytes: at most size - 1
    // characters, up to and including the next LF, then a terminating NUL; the
    // rest of a longer line is left for the next read. Bytes are copied as they
    // come, NUL bytes included. A read that finds the end of the file delivers
    // nothing, leaves dest exactly as it was and returns false; so does every
    // read when the reader is not open or size is below 2.
    [[nodiscard]] bool readLine(char* dest, std::size_t size);

  private:
    int nextChar();
    int nextByte();
    void unreadByte(int c);

    StdioFile file_;
    bool inMemory_ = false;
    const char* next_ = nullptr;  // in memory: the unread bytes
    const char* end_ = nullptr;
};

}  // namespace velgor
