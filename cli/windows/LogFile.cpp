// Appending to the station log on Windows.
#include <windows.h>

#include <system_error>

#include "cli/LogFile.h"

namespace qrb::cli {
namespace {

std::string LastErrorText() {
    return std::system_category().message(static_cast<int>(::GetLastError()));
}

// Opened for appending only, shared for reading, created when missing.
HANDLE OpenForAppend(const std::string& path) {
    return ::CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Whether the file is empty or ends with a newline.
bool EndsCleanly(HANDLE file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size) || size.QuadPart == 0) {
        return true;
    }
    OVERLAPPED at{};
    const ULONGLONG last = static_cast<ULONGLONG>(size.QuadPart) - 1;
    at.Offset = static_cast<DWORD>(last);
    at.OffsetHigh = static_cast<DWORD>(last >> 32);
    char byte = '\n';
    DWORD got = 0;
    return !::ReadFile(file, &byte, 1, &got, &at) || got != 1 || byte == '\n';
}

}  // namespace

std::string CheckAppendable(const std::string& path) {
    HANDLE file = OpenForAppend(path);
    if (file == INVALID_HANDLE_VALUE) {
        return LastErrorText();
    }
    ::CloseHandle(file);
    return {};
}

std::string AppendDurably(const std::string& path, std::string text) {
    HANDLE file = OpenForAppend(path);
    if (file == INVALID_HANDLE_VALUE) {
        return LastErrorText();
    }
    if (!EndsCleanly(file)) {
        text.insert(text.begin(), '\n');
    }
    DWORD written = 0;
    std::string failure;
    if (!::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !::FlushFileBuffers(file)) {
        failure = LastErrorText();
    }
    ::CloseHandle(file);
    return failure;
}

}  // namespace qrb::cli
