#include "InputDecoder.h"

#include "platform/ComPlatform.h"

#include <cstring>

namespace cport {

namespace {
constexpr std::uint8_t MarkByte = 0xFF;
}

void TInputDecoder::PutByte(std::uint8_t AByte, std::uint8_t* AOut, TDecodeResult& AResult) const {
    if (AByte == 0 && FConfig.DiscardNull) return;
    if (FConfig.DetectEvtChar && AByte == FConfig.EvtChar) AResult.Events |= EvMask::RxFlag;
    AOut[AResult.Count++] = AByte;
}

// The bulk of the input is plain data: moved in runs, with memchr doing the per-byte work.
std::size_t TInputDecoder::CopyData(const std::uint8_t* AIn, std::size_t ACount, std::uint8_t* AOut,
                                    TDecodeResult& AResult) const {
    std::uint8_t* const start = AOut + AResult.Count;
    std::size_t written = 0;
    if (!FConfig.DiscardNull) {
        if (start != AIn) std::memmove(start, AIn, ACount);
        written = ACount;
    } else {
        std::size_t pos = 0;
        while (pos < ACount) {
            const void* nul = std::memchr(AIn + pos, 0, ACount - pos);
            const std::size_t end =
                nul != nullptr
                    ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - AIn)
                    : ACount;
            if (start + written != AIn + pos) std::memmove(start + written, AIn + pos, end - pos);
            written += end - pos;
            pos = end + 1;
        }
    }
    // An empty run may come with null buffers, which memchr must not see even for 0 bytes.
    if (written != 0 && FConfig.DetectEvtChar && (AResult.Events & EvMask::RxFlag) == 0 &&
        std::memchr(start, FConfig.EvtChar, written) != nullptr)
        AResult.Events |= EvMask::RxFlag;
    AResult.Count += written;
    return written;
}

TDecodeResult TInputDecoder::Decode(const std::uint8_t* AIn, std::size_t ACount,
                                    std::uint8_t* AOut) {
    TDecodeResult result;
    if (!FConfig.Marks) {
        CopyData(AIn, ACount, AOut, result);
        return result;
    }
    std::size_t pos = 0;
    while (pos < ACount) {
        switch (FState) {
        case TState::Data: {
            const void* mark = std::memchr(AIn + pos, MarkByte, ACount - pos);
            const std::size_t end =
                mark != nullptr
                    ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(mark) - AIn)
                    : ACount;
            CopyData(AIn + pos, end - pos, AOut, result);
            pos = end;
            if (mark != nullptr) {
                FState = TState::Escape;
                ++pos;
            }
            break;
        }
        case TState::Escape: {
            const std::uint8_t byte = AIn[pos++];
            if (byte == MarkByte) {
                FState = TState::Data;
                PutByte(MarkByte, AOut, result);
            } else if (byte == 0) {
                FState = TState::Marked;
            } else {
                // A lone 0xFF cannot come from the line discipline with PARMRK set; keeping
                // it could make the output overtake the input, so only the byte is kept.
                FState = TState::Data;
                PutByte(byte, AOut, result);
            }
            break;
        }
        case TState::Marked: {
            const std::uint8_t byte = AIn[pos++];
            FState = TState::Data;
            ++result.Marks;
            if (byte == 0) {
                result.Errors |= CommError::Break;
                result.Events |= EvMask::Break;
            } else {
                result.Errors |= CommError::RxParity;
                result.Events |= EvMask::Err;
                PutByte(FConfig.ReplaceErrors ? FConfig.ErrorChar : byte, AOut, result);
            }
            break;
        }
        }
    }
    return result;
}

} // namespace cport
