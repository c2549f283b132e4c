// The set template of the component: a set over an enumeration, held in the bits of an
// unsigned integer.
#pragma once

#include <initializer_list>
#include <type_traits>

namespace cport {

// A set over an enumeration numbered from 0, held in the bits of TBits: bit n stands for the
// member with ordinal n. The bit layout is the stored and exchanged form of each set, so it is
// fixed by TBits and never depends on the compiler.
template <typename TEnum, typename TBits>
class TSet {
    static_assert(std::is_enum_v<TEnum>);
    static_assert(std::is_unsigned_v<TBits>);

public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<TEnum> AMembers) {
        for (TEnum m : AMembers)
            FBits = static_cast<TBits>(FBits | Bit(m));
    }

    // Builds a set from its bit layout; bits without a member are kept as they are.
    static constexpr TSet FromBits(TBits ABits) {
        TSet s;
        s.FBits = ABits;
        return s;
    }
    constexpr TBits Bits() const { return FBits; }

    constexpr bool Contains(TEnum AMember) const { return (FBits & Bit(AMember)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }

    constexpr TSet& Include(TEnum AMember) {
        FBits = static_cast<TBits>(FBits | Bit(AMember));
        return *this;
    }
    constexpr TSet& Exclude(TEnum AMember) {
        FBits = static_cast<TBits>(FBits & ~Bit(AMember));
        return *this;
    }

    friend constexpr TSet operator|(TSet A, TSet B) {
        return FromBits(static_cast<TBits>(A.FBits | B.FBits));
    }
    friend constexpr TSet operator&(TSet A, TSet B) {
        return FromBits(static_cast<TBits>(A.FBits & B.FBits));
    }
    friend constexpr TSet operator-(TSet A, TSet B) {
        return FromBits(static_cast<TBits>(A.FBits & ~B.FBits));
    }
    friend constexpr bool operator==(TSet A, TSet B) = default;

private:
    static constexpr TBits Bit(TEnum AMember) {
        return static_cast<TBits>(TBits{1} << static_cast<unsigned>(AMember));
    }
    TBits FBits = 0;
};

} // namespace cport
