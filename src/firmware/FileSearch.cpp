// Finding the firmware files of one pattern in a folder: the search path, the
// wildcard match, the date text of an entry and the listing itself.
#include <dirent.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QTimeZone>
#include <memory>

#include "firmware/FileCatalogue.h"

namespace qrb {

namespace {

char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Last-write time of an entry; a dangling link is described by the link itself.
bool lastWriteTime(const std::string& path, long long& seconds) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && ::lstat(path.c_str(), &info) != 0) {
        return false;
    }
    seconds = static_cast<long long>(info.st_mtim.tv_sec);
    return true;
}

}  // namespace

std::string SearchPath(const std::string& folder, std::string_view pattern) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += pattern;
    return path;
}

bool MatchesPattern(std::string_view name, std::string_view pattern) {
    if (name.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (pattern[i] != '?' && asciiUpper(pattern[i]) != asciiUpper(name[i])) {
            return false;
        }
    }
    return true;
}

std::string DateText(long long secondsSinceEpoch, const QLocale& locale) {
    // The listing keeps two-second resolution: odd seconds round down.
    const long long evenSeconds = secondsSinceEpoch - (((secondsSinceEpoch % 2) + 2) % 2);
    const QDateTime local = QDateTime::fromSecsSinceEpoch(evenSeconds);
    QString text = locale.toString(local.date(), QLocale::ShortFormat);
    if (local.time() != QTime(0, 0)) {
        text += ' ';
        text += locale.toString(local, locale.timeFormat(QLocale::LongFormat));
    }
    return text.toStdString();
}

bool AddMatchingFiles(GridRows& rows, const std::string& folder, std::string_view pattern,
                      const QLocale& locale) {
    const std::string directory = folder.empty() ? std::string(".") : folder;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (!MatchesPattern(name, pattern)) {
            continue;
        }
        long long seconds = 0;
        if (!lastWriteTime(SearchPath(directory, name), seconds)) {
            continue;  // vanished between listing and looking at it
        }
        rows.push_back({std::string(name), DateText(seconds, locale), std::string()});
        found = true;
    }
    return found;
}

}  // namespace qrb
