#include "toolkit/pngencode.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

std::string EncodePng(const std::uint8_t* Rgb, int Width, int Height)
{
    stbi_write_png_compression_level = 9;
    stbi_write_force_png_filter = 0;
    std::string png;
    const auto append = [](void* Context, void* Data, int Size) {
        static_cast<std::string*>(Context)->append(static_cast<const char*>(Data), static_cast<std::size_t>(Size));
    };
    if (!stbi_write_png_to_func(append, &png, Width, Height, 3, Rgb, Width * 3)) return {};
    return png;
}
