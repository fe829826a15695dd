// Ordering of the file list: by date text from high to low, equal date texts
// by name from high to low, all by byte-wise comparison of the texts.
#include "firmware/FileCatalogue.h"

namespace qrb {

namespace {

// Byte-wise: the first differing byte (taken unsigned) decides; a prefix is
// smaller. std::string's compare works on char_traits<char>, which compares
// as unsigned char.
bool greaterThan(const std::string& a, const std::string& b) {
    return a.compare(b) > 0;
}

}  // namespace

void SortRows(GridRows& rows, int first, int last, int column) {
    int i = first;
    int j = last;
    const std::string pivot = rows[static_cast<std::size_t>((first + last) / 2)][column];
    do {
        while (greaterThan(rows[static_cast<std::size_t>(i)][column], pivot)) {
            ++i;
        }
        while (greaterThan(pivot, rows[static_cast<std::size_t>(j)][column])) {
            --j;
        }
        if (i <= j) {
            std::swap(rows[static_cast<std::size_t>(i)], rows[static_cast<std::size_t>(j)]);
            ++i;
            --j;
        }
    } while (i <= j);
    if (first < j) {
        SortRows(rows, first, j, column);
    }
    if (i < last) {
        SortRows(rows, i, last, column);
    }
}

void SortFileList(GridRows& rows) {
    const int last = static_cast<int>(rows.size()) - 1;
    if (last < 1) {
        return;
    }
    SortRows(rows, 1, last, kDateColumn);
    int runStart = 1;
    for (int row = 2; row <= last + 1; ++row) {
        const bool runEnds =
            row > last || rows[static_cast<std::size_t>(row)][kDateColumn] !=
                              rows[static_cast<std::size_t>(runStart)][kDateColumn];
        if (runEnds) {
            if (row - 1 > runStart) {
                SortRows(rows, runStart, row - 1, kNameColumn);
            }
            runStart = row;
        }
    }
}

}  // namespace qrb
