// The pictures of the main window, compiled into the program from
// data/pictures (the build generates their byte arrays).
#pragma once

#include <cstddef>

namespace qrb {

struct PictureBytes {
    const unsigned char* data;
    std::size_t size;
};

extern const PictureBytes kLampRedJpeg;  // 16 x 16 status lamps
extern const PictureBytes kLampYellowJpeg;
extern const PictureBytes kLampGreenJpeg;
extern const PictureBytes kBannerPng;  // 156 x 21, transparent
}  // namespace qrb
