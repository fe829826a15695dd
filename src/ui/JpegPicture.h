// JPEG pictures decoded with libjpeg's own interface.
#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

namespace qrb {

// The decoded picture (RGB), or a null image when the bytes are not a JPEG
// that libjpeg can turn into RGB.
QImage DecodeJpeg(const std::uint8_t* data, std::size_t size);

}  // namespace qrb
