// The reader of the registry store files (.reg text, UTF-8 or UTF-16LE). Properties: a store
// that parses, written back and read again, is the same store, and its text is then a fixed
// point; every key path the reader accepted is a valid one.
#include "FuzzCheck.h"
#include "platform/posix/store/RegFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace cport;

namespace {

constexpr std::string_view Root = "HKEY_CURRENT_USER";

bool SameValue(const TRegValue& A, const TRegValue& B) {
    return A.Type == B.Type && A.Data == B.Data;
}

// Names, values, their order and the tree's shape, exactly.
bool SameKey(const TRegKey& A, const TRegKey& B) {
    if (A.Name != B.Name || A.Values.size() != B.Values.size() ||
        A.SubKeys.size() != B.SubKeys.size())
        return false;
    for (std::size_t i = 0; i < A.Values.size(); ++i)
        if (A.Values[i].Name != B.Values[i].Name ||
            !SameValue(A.Values[i].Value, B.Values[i].Value))
            return false;
    for (std::size_t i = 0; i < A.SubKeys.size(); ++i)
        if (!SameKey(A.SubKeys[i], B.SubKeys[i])) return false;
    return true;
}

void CheckNames(const TRegKey& AKey) {
    for (const TRegKey& sub : AKey.SubKeys) {
        const auto path = SplitKeyPath(sub.Name);
        FUZZ_CHECK(path && path->size() == 1 && (*path)[0] == sub.Name);
        CheckNames(sub);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::string_view text(reinterpret_cast<const char*>(AData), ASize);
    const auto store = ParseRegFile(text, Root);
    if (!store) return 0;
    FUZZ_CHECK(store->Name == Root);
    CheckNames(*store);
    const std::string written = FormatRegFile(*store, Root);
    const auto reread = ParseRegFile(written, Root);
    FUZZ_CHECK(reread.has_value());
    FUZZ_CHECK(SameKey(*store, *reread));
    FUZZ_CHECK(FormatRegFile(*reread, Root) == written);
    return 0;
}
