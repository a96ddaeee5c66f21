// Owns libpng's simplified-API state, which must be freed also when a read or write stops halfway. Shared by
// the build-time icon tool and its test.
#pragma once

#include <cstring>
#include <png.h>

class PngImage {
public:
    PngImage() {
        std::memset(&image_, 0, sizeof image_);
        image_.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image_); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;

    png_image* get() { return &image_; }
    png_image* operator->() { return &image_; }

private:
    png_image image_;
};
