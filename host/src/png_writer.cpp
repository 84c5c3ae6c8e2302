#include "quolva/image.h"

#include <cstdio>
#include <memory>

#include <png.h>

namespace quolva::host {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

bool writePng(const std::string& path, const Image& image, std::string& error)
{
    if (image.empty() || image.rgba.size() != size_t(image.width) * image.height * 4) {
        error = "cannot write an empty or inconsistent picture to " + path;
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        error = "out of memory while writing " + path;
        return false;
    }
    // libpng reports errors by longjmp; nothing with a destructor is created below.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "libpng failed while writing " + path;
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < image.height; ++y)
        png_write_row(png, const_cast<png_bytep>(&image.rgba[size_t(y) * image.width * 4]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        error = "error while writing " + path;
        return false;
    }
    return true;
}

} // namespace quolva::host
