#include "page_png.h"

#include <png.h>

#include <vector>

#include "orvo/quality/page.h"

namespace orvoscand {

namespace {

void Append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), size);
}

void Flush(png_structp) {}

}  // namespace

bool PagePng(const std::string& pagePath, std::string* out, std::string* error) {
    orvo::quality::Page page;
    if (!orvo::quality::ReadPageFile(pagePath, &page, error)) return false;
    if (page.width <= 0 || page.height <= 0) {
        *error = "the page has no pixels";
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        *error = "out of memory";
        return false;
    }
    std::string result;
    const bool bilevel = page.bilevel();
    std::vector<png_byte> row(bilevel ? (static_cast<std::size_t>(page.width) + 7) / 8
                                      : static_cast<std::size_t>(page.width));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        *error = "the picture could not be coded";
        return false;
    }
    png_set_write_fn(png, &result, Append, Flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(page.width),
                 static_cast<png_uint_32>(page.height), bilevel ? 1 : 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Pages compress well and fast at a low level.
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    for (int y = 0; y < page.height; ++y) {
        const uint8_t* src = page.row(y);
        if (bilevel) {
            // Pages keep 1 = black; PNG gray 0 = black.
            for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<png_byte>(~src[i]);
        } else {
            for (std::size_t i = 0; i < row.size(); ++i) row[i] = src[i];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    *out = std::move(result);
    return true;
}

}  // namespace orvoscand
