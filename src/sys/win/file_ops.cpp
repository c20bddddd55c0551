#include "sys/file_ops.h"

#include <io.h>

#include <cerrno>

#include "sys/win/winsock_fd.h"

namespace velgor {

bool createNewFile(const std::string& path) {
    // The C run-time's fopen knows no "x": CREATE_NEW fails when the name exists.
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

ReplaceTarget examineReplaceTarget(const std::string& path) {
    ReplaceTarget target;
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    target.exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!target.exists) return target;
    constexpr DWORD NOT_PLAIN = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY;
    target.replaceable = (attributes & NOT_PLAIN) == 0;
    return target;
}

void takeOverPermissions(std::FILE*, const ReplaceTarget&) {}

bool syncToDisk(std::FILE* file) {
    return ::_commit(::_fileno(file)) == 0;
}

int replaceFile(const std::string& from, const std::string& to) {
    if (::MoveFileExA(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
        return 0;
    }
    switch (::GetLastError()) {
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        default:
            return EIO;
    }
}

}  // namespace velgor
