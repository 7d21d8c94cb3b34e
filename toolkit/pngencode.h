// PNG encoding of 8-bit RGB pixels through stb_image_write (Debian's
// libstb-dev, header-only, so the Windows build has it too).
#pragma once

#include <cstdint>
#include <string>

// The PNG file of Width x Height pixels, rows top first, 3 bytes (R, G, B)
// per pixel; empty when encoding fails. Every row is stored unfiltered (a
// plain reader can take the pixels from the inflated data) and deflated at
// the encoder's highest level.
std::string EncodePng(const std::uint8_t* Rgb, int Width, int Height);
