// The store accessors of a port's StoreSettings and LoadSettings, for the registry and for
// profile (INI) files. Each is made for one call and released at its end; a descendant of the
// port that stores more gets them in its overrides, and a program may use them for settings
// of its own.
#pragma once

#include "OsTypes.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace cport {

// A failed read or write of a store accessor. StoreSettings and LoadSettings replace it (like
// every other failure) by their own error.
class EStoreAccess : public std::runtime_error {
public:
    EStoreAccess(const std::string& AMessage, TOsError AOsError);
    // The platform's error code, or 0 when no platform call failed (no key open, a value of
    // another kind).
    TOsError OsError() const { return FOsError; }

private:
    TOsError FOsError;
};

// Registry values of one key.
class TRegistryAccess {
public:
    TRegistryAccess() = default;
    TRegistryAccess(const TRegistryAccess&) = delete;
    TRegistryAccess& operator=(const TRegistryAccess&) = delete;
    // Closes the key, ignoring a failure: it runs while an error is already on its way.
    ~TRegistryAccess();

    // The root that OpenKey starts from; the current user's root until set.
    THKey RootKey() const { return FRootKey; }
    void SetRootKey(THKey AValue) { FRootKey = AValue; }
    // Opens AKey below the root with full access, creating it and missing parents; closes a
    // key opened before. False, and no key open, when that fails.
    bool OpenKey(const std::string& AKey);
    bool HasKey() const { return FHasKey; }
    THKey CurrentKey() const { return FKey; }

    // Raise EStoreAccess when no key is open or the platform fails.
    void WriteString(const std::string& AName, const std::string& AValue);
    void WriteInteger(const std::string& AName, std::int32_t AValue);
    // A missing value (or no key open) reads as the empty text; a value of another kind than
    // a plain or expandable string raises EStoreAccess, as does any other failure.
    std::string ReadString(const std::string& AName);
    // A missing value, one of another kind than a 32-bit integer, or no key open raises
    // EStoreAccess.
    std::int32_t ReadInteger(const std::string& AName);

    // Closes the key; raises EStoreAccess when the platform fails.
    void Release();

private:
    THKey FRootKey = HKey::CurrentUser;
    THKey FKey = 0;
    bool FHasKey = false;
};

// Values of one profile (INI) file.
class TIniAccess {
public:
    explicit TIniAccess(std::string AFileName)
        : FFileName(std::move(AFileName)) {}
    TIniAccess(const TIniAccess&) = delete;
    TIniAccess& operator=(const TIniAccess&) = delete;
    // Writes cached changes out if Release did not, ignoring a failure: it runs while an error
    // is already on its way.
    ~TIniAccess();

    const std::string& FileName() const { return FFileName; }
    // ADefault when the file, the section or the line is missing; at most 2047 characters.
    std::string ReadString(const std::string& ASection, const std::string& AName,
                           const std::string& ADefault);
    // Creates the file, section or line as needed, or replaces the line's value; raises
    // EStoreAccess when the file cannot be written.
    void WriteString(const std::string& ASection, const std::string& AName,
                     const std::string& AValue);
    // ADefault when the text is missing or no number (decimal, or hexadecimal after "0x" or
    // "$").
    std::int32_t ReadInteger(const std::string& ASection, const std::string& AName,
                             std::int32_t ADefault);
    // As decimal text.
    void WriteInteger(const std::string& ASection, const std::string& AName, std::int32_t AValue);

    // Has the profile functions write cached changes of the file out; raises EStoreAccess on
    // failure.
    void Release();

private:
    std::string FFileName;
    bool FReleased = false;
};

} // namespace cport
