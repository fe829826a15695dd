// Finding the firmware files of one pattern in a folder: the search path, the
// wildcard match, the date text of an entry and the listing itself.
#include <QDateTime>
#include <utility>
#include <vector>

#include "firmware/FileCatalogue.h"
#include "firmware/PlatformFiles.h"

namespace qrb {

namespace {

char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
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

DateTextFormat::DateTextFormat(const QLocale& locale)
    : locale_(locale), timeFormat_(withoutZone(locale.timeFormat(QLocale::LongFormat))) {}

std::string DateTextFormat::text(long long secondsSinceEpoch) const {
    // The listing keeps two-second resolution: odd seconds round down.
    const long long evenSeconds = secondsSinceEpoch - (((secondsSinceEpoch % 2) + 2) % 2);
    const QDateTime local = QDateTime::fromSecsSinceEpoch(evenSeconds, Qt::LocalTime);
    if (!local.isValid()) {
        return std::string();
    }
    QString text = locale_.toString(local.date(), QLocale::ShortFormat);
    if (local.time() != QTime(0, 0)) {
        text += ' ';
        text += locale_.toString(local.time(), timeFormat_);
    }
    return text.toStdString();
}

// The locale's long time format without its time-zone field ('t'): the
// listing shows the time of day as the desktop's long time does, and a zone
// name would only crowd the column.
QString DateTextFormat::withoutZone(const QString& format) {
    QString out;
    bool inQuotes = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == '\'') {
            inQuotes = !inQuotes;
        }
        if (!inQuotes && c == 't') {
            while (i + 1 < format.size() && format[i + 1] == 't') {
                ++i;
            }
            while (!out.isEmpty() && out.back() == ' ') {
                out.chop(1);
            }
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

std::string DateText(long long secondsSinceEpoch, const QLocale& locale) {
    return DateTextFormat(locale).text(secondsSinceEpoch);
}

bool AddMatchingFiles(GridRows& rows, const std::string& folder, std::string_view pattern,
                      const QLocale& locale) {
    const std::string directory = folder.empty() ? std::string(".") : folder;
    std::vector<FolderEntry> entries;
    const auto matches = [pattern](std::string_view name) { return MatchesPattern(name, pattern); };
    if (!ListFolder(directory, matches, entries)) {
        return false;
    }
    const DateTextFormat dates(locale);
    for (FolderEntry& entry : entries) {
        rows.push_back({std::move(entry.name), dates.text(entry.lastWriteSeconds), std::string()});
    }
    return !entries.empty();
}

}  // namespace qrb
