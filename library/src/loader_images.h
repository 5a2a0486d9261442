// The two loader images that the library carries for the receiver's boot loader,
// embedded at build time from library/loaders (see its README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zorvik {

inline constexpr std::size_t kLoaderImage1Size = 3576;
inline constexpr std::size_t kLoaderImage2Size = 2720;
// The Xmodem argument that selects loader image 2; any other value selects image 1.
inline constexpr int kLoaderImage2Selector = 259;

// The image that Xmodem(image) sends: image 2 for 259, image 1 for any other value.
std::span<const std::uint8_t> loader_image(int image);

}  // namespace zorvik
