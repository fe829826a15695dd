#include "ui/JpegPicture.h"

// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <vector>

namespace qrb {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return:
// it jumps back to Decode, which then gives up.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(info->err);
    std::longjmp(manager->jump, 1);
}

void OnJpegMessage(j_common_ptr /*info*/) {}  // warnings are not printed

struct Decoding {
    jpeg_decompress_struct info{};
    JpegErrorManager error{};
    std::vector<std::uint8_t> pixels;  // RGB rows, no padding
    int width = 0;
    int height = 0;
};

// Everything between setjmp and a possible longjmp lives in `decoding`
// (outside this frame), so the jump skips no destructor.
bool Decode(Decoding& decoding, const std::uint8_t* data, std::size_t size) {
    jpeg_decompress_struct& info = decoding.info;
    info.err = jpeg_std_error(&decoding.error.pub);
    decoding.error.pub.error_exit = OnJpegError;
    decoding.error.pub.output_message = OnJpegMessage;
    if (setjmp(decoding.error.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3) {
        return false;
    }
    decoding.width = static_cast<int>(info.output_width);
    decoding.height = static_cast<int>(info.output_height);
    const std::size_t rowBytes = static_cast<std::size_t>(decoding.width) * 3;
    decoding.pixels.resize(rowBytes * static_cast<std::size_t>(decoding.height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = decoding.pixels.data() + rowBytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

QImage DecodeJpeg(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) {
        return {};
    }
    Decoding decoding;
    const bool decoded = Decode(decoding, data, size);
    jpeg_destroy_decompress(&decoding.info);
    if (!decoded) {
        return {};
    }
    QImage image(decoding.width, decoding.height, QImage::Format_RGB888);
    const std::size_t rowBytes = static_cast<std::size_t>(decoding.width) * 3;
    for (int y = 0; y < decoding.height; ++y) {
        std::copy_n(decoding.pixels.data() + rowBytes * static_cast<std::size_t>(y), rowBytes,
                    image.scanLine(y));
    }
    return image;
}

}  // namespace qrb
