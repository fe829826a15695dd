// The file calls on Windows: CreateFileA handles shared for reading and
// writing, errors worded by FormatMessageA. Windows files carry no
// permission bits; a replacement takes those its folder gives a new file.
#include "firmware/PlatformFiles.h"

#include <windows.h>

#include <atomic>
#include <climits>

namespace qrb {

namespace {

std::string ErrorText(DWORD code) {
    char text[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\r' || result.back() == '\n')) {
        result.pop_back();
    }
    return result.empty() ? "error " + std::to_string(code) : result;
}

std::string LastErrorText() {
    return ErrorText(::GetLastError());
}

HANDLE Handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t Stored(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = bytes.size() > INT_MAX ? INT_MAX : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// A temporary name beside path, "path.XXXXXX" as on POSIX, created anew.
HANDLE CreateTemporary(const std::string& path, std::string& temporaryPath) {
    static std::atomic<unsigned> counter{0};
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned long long seed = ::GetTickCount64() ^ (::GetCurrentProcessId() * 2654435761ULL) ^
                                  (counter.fetch_add(1) * 40503ULL);
        temporaryPath = path + '.';
        for (int i = 0; i < 6; ++i) {
            temporaryPath += kLetters[seed % (sizeof kLetters - 1)];
            seed /= sizeof kLetters - 1;
        }
        const HANDLE file = ::CreateFileA(temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) {
            return file;
        }
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

InputFile::InputFile(const std::string& path, Accept accept) {
    const HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errorText_ = LastErrorText();
        return;
    }
    if (accept == Accept::RegularFileOnly && ::GetFileType(file) != FILE_TYPE_DISK) {
        errorText_ = "not a regular file";
        ::CloseHandle(file);
        return;
    }
    handle_ = Stored(file);
}

InputFile::~InputFile() {
    if (isOpen()) {
        ::CloseHandle(Handle(handle_));
    }
}

std::ptrdiff_t InputFile::read(char* buffer, std::size_t size) {
    const DWORD wanted = size > INT_MAX ? INT_MAX : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!::ReadFile(Handle(handle_), buffer, wanted, &got, nullptr)) {
        errorText_ = LastErrorText();
        return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
    // Shared for deleting too, so that a replacement can be renamed over it.
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return;
    }
    handle_ = Stored(file);
}

OutputFile::~OutputFile() {
    if (isOpen()) {
        ::CloseHandle(Handle(handle_));
    }
}

bool OutputFile::replaceContent(std::string_view content) {
    return ReplaceFileContent(path_, content).replaced();
}

bool OutputFile::rewrite(std::string_view content) {
    const HANDLE file = Handle(handle_);
    if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::SetEndOfFile(file) || !WriteAll(file, content)) {
        return false;
    }
    handle_ = kNoHandle;
    return ::CloseHandle(file) != 0;
}

FileReplacement ReplaceFileContent(const std::string& path, std::string_view content) {
    FileReplacement result;
    const HANDLE file = CreateTemporary(path, result.temporaryPath);
    if (file == INVALID_HANDLE_VALUE) {
        result.failure = FileReplacement::Failure::CreatingTemporary;
        result.errorText = LastErrorText();
        return result;
    }
    const bool written = WriteAll(file, content) && ::FlushFileBuffers(file);
    const std::string writeError = written ? std::string() : LastErrorText();
    const bool closed = ::CloseHandle(file) != 0;
    if (written && closed &&
        ::MoveFileExA(result.temporaryPath.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return result;
    }
    result.failure = FileReplacement::Failure::Writing;
    result.errorText = written ? LastErrorText() : writeError;
    ::DeleteFileA(result.temporaryPath.c_str());
    return result;
}

bool ListFolder(const std::string& folder, const std::function<bool(std::string_view)>& wanted,
                std::vector<FolderEntry>& entries) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') {
        pattern += '\\';
    }
    pattern += '*';
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // An empty folder (a drive's root has no "." entry) lists nothing.
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    // FILETIME counts 100 ns steps from 1601-01-01 00:00 UTC.
    constexpr unsigned long long kStepsPerSecond = 10'000'000ULL;
    constexpr unsigned long long kStepsTo1970 = 116'444'736'000'000'000ULL;
    do {
        if (!wanted(found.cFileName)) {
            continue;
        }
        const unsigned long long steps =
            (static_cast<unsigned long long>(found.ftLastWriteTime.dwHighDateTime) << 32) |
            found.ftLastWriteTime.dwLowDateTime;
        const long long seconds =
            (static_cast<long long>(steps) - static_cast<long long>(kStepsTo1970)) /
            static_cast<long long>(kStepsPerSecond);
        entries.push_back({found.cFileName, seconds});
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return true;
}

}  // namespace qrb
