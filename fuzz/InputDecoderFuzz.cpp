// The driver's decoder of in-band parity and break marks. The input's first bytes choose the
// decoder's settings and a split point; the rest is what the line discipline delivered.
// Properties: no call outputs more bytes than it got; decoding the input at once, in two
// chunks split at the chosen point, byte by byte, and in place all give the same bytes,
// errors, events and mark count; and all agree with a plain byte-at-a-time model.
#include "FuzzCheck.h"
#include "platform/ComPlatform.h"
#include "platform/posix/InputDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace cport;

namespace {

struct TOutcome {
    std::vector<std::uint8_t> Bytes;
    std::uint32_t Errors = 0;
    std::uint32_t Events = 0;
    std::size_t Marks = 0;

    bool operator==(const TOutcome&) const = default;
};

// Feeds AInput in chunks that end at the given offsets (the last chunk runs to the end).
TOutcome Decode(const TDecoderConfig& AConfig, const std::vector<std::uint8_t>& AInput,
                const std::vector<std::size_t>& ACuts, bool AInPlace) {
    TInputDecoder decoder;
    decoder.Configure(AConfig);
    TOutcome outcome;
    std::size_t start = 0;
    for (std::size_t cut = 0; cut <= ACuts.size(); ++cut) {
        const std::size_t end = cut < ACuts.size() ? ACuts[cut] : AInput.size();
        std::vector<std::uint8_t> chunk(AInput.begin() + static_cast<std::ptrdiff_t>(start),
                                        AInput.begin() + static_cast<std::ptrdiff_t>(end));
        // A separate output has room for exactly the input, so ASan sees any overrun.
        std::vector<std::uint8_t> out(chunk.size());
        std::uint8_t* const target = AInPlace ? chunk.data() : out.data();
        const TDecodeResult result = decoder.Decode(chunk.data(), chunk.size(), target);
        FUZZ_CHECK(result.Count <= chunk.size());
        outcome.Bytes.insert(outcome.Bytes.end(), target, target + result.Count);
        outcome.Errors |= result.Errors;
        outcome.Events |= result.Events;
        outcome.Marks += result.Marks;
        start = end;
    }
    return outcome;
}

// What the decoder must produce, written as plainly as possible.
TOutcome Model(const TDecoderConfig& AConfig, const std::vector<std::uint8_t>& AInput) {
    TOutcome outcome;
    auto put = [&](std::uint8_t AByte) {
        if (AByte == 0 && AConfig.DiscardNull) return;
        if (AConfig.DetectEvtChar && AByte == AConfig.EvtChar) outcome.Events |= EvMask::RxFlag;
        outcome.Bytes.push_back(AByte);
    };
    for (std::size_t i = 0; i < AInput.size(); ++i) {
        if (!AConfig.Marks || AInput[i] != 0xFF) {
            put(AInput[i]);
            continue;
        }
        if (++i == AInput.size()) break; // a mark cut off at the end
        if (AInput[i] != 0) {
            put(AInput[i]); // 0xFF 0xFF, or a lone 0xFF whose next byte is kept
            continue;
        }
        if (++i == AInput.size()) break;
        ++outcome.Marks;
        if (AInput[i] == 0) {
            outcome.Errors |= CommError::Break;
            outcome.Events |= EvMask::Break;
        } else {
            outcome.Errors |= CommError::RxParity;
            outcome.Events |= EvMask::Err;
            put(AConfig.ReplaceErrors ? AConfig.ErrorChar : AInput[i]);
        }
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize < 5) return 0;
    TDecoderConfig config;
    config.DiscardNull = (AData[0] & 1) != 0;
    config.ReplaceErrors = (AData[0] & 2) != 0;
    config.DetectEvtChar = (AData[0] & 4) != 0;
    config.Marks = (AData[0] & 8) == 0;
    config.ErrorChar = AData[1];
    config.EvtChar = AData[2];
    const std::vector<std::uint8_t> input(AData + 5, AData + ASize);
    const std::size_t split =
        (static_cast<std::size_t>(AData[3]) << 8 | AData[4]) % (input.size() + 1);

    const TOutcome whole = Decode(config, input, {}, false);
    FUZZ_CHECK(whole.Bytes.size() <= input.size());
    FUZZ_CHECK(whole == Model(config, input));
    FUZZ_CHECK(Decode(config, input, {}, true) == whole);
    FUZZ_CHECK(Decode(config, input, {split}, false) == whole);
    FUZZ_CHECK(Decode(config, input, {split}, true) == whole);
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < input.size(); ++i)
        everyByte.push_back(i);
    FUZZ_CHECK(Decode(config, input, everyByte, true) == whole);
    return 0;
}
