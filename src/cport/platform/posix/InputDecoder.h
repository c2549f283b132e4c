// Decoding of the bytes the POSIX line discipline delivers with PARMRK set (the driver sets it
// while parity is checked): 0xFF 0x00 c marks a byte c received with a parity or framing
// error, 0xFF 0x00 0x00 a break, and 0xFF 0xFF a data byte 0xFF. On the way into the input queue
// the decoder also applies what the device control block asks for per byte: discarding NUL bytes,
// replacing bytes received with an error by the error character, and spotting the event character.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cport {

struct TDecoderConfig {
    bool DiscardNull = false;
    bool ReplaceErrors = false;
    std::uint8_t ErrorChar = 0;
    bool DetectEvtChar = false;
    std::uint8_t EvtChar = 0;
    // The line discipline marks (PARMRK is set); without, every byte is data.
    bool Marks = true;
};

// What one call produced besides data.
struct TDecodeResult {
    std::size_t Count = 0;    // bytes written to the output
    std::uint32_t Errors = 0; // CommError::RxParity for marked bytes, CommError::Break
    std::uint32_t Events = 0; // EvMask::Err, EvMask::Break, EvMask::RxFlag
    std::size_t Marks = 0;    // marked bytes and breaks seen
};

class TInputDecoder {
public:
    // A change of Marks forgets a partly received mark.
    void Configure(const TDecoderConfig& AConfig) {
        if (AConfig.Marks != FConfig.Marks) Reset();
        FConfig = AConfig;
    }
    const TDecoderConfig& Config() const { return FConfig; }

    // Decodes ACount bytes into AOut, which may be AIn itself: the output never runs ahead of
    // the input. A mark split between two calls is completed by the second. A marked byte
    // becomes the error character when replacing, else stays as it came; a break leaves no
    // byte. A NUL byte is discarded after replacement, so an error character of 0 is
    // discarded too. RxFlag is reported when the event character reaches the output.
    TDecodeResult Decode(const std::uint8_t* AIn, std::size_t ACount, std::uint8_t* AOut);

    // Forgets a partly received mark (the input was purged).
    void Reset() { FState = TState::Data; }

private:
    enum class TState : std::uint8_t {
        Data,   // plain data
        Escape, // after 0xFF
        Marked, // after 0xFF 0x00
    };

    std::size_t CopyData(const std::uint8_t* AIn, std::size_t ACount, std::uint8_t* AOut,
                         TDecodeResult& AResult) const;
    void PutByte(std::uint8_t AByte, std::uint8_t* AOut, TDecodeResult& AResult) const;

    TDecoderConfig FConfig;
    TState FState = TState::Data;
};

} // namespace cport
