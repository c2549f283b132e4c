// Decoding a JPEG picture held in memory, with libjpeg.
#pragma once

#include <QImage>

#include <cstddef>
#include <stdexcept>

namespace quendal {

// A picture that cannot be decoded; the message is the decoder's.
class EJpegError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The ASize bytes at AData decoded as a JPEG into an RGB image. Raises EJpegError when they are
// no JPEG, or a damaged one (including a warning the decoder would otherwise patch over).
QImage DecodeJpeg(const void* AData, std::size_t ASize);

} // namespace quendal
