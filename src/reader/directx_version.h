// The installed DirectX version, derived from the file versions of system components without
// loading them. Only logged at start-up; nothing depends on its value.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/com/com.h"

namespace reader {

using platform::com::HRESULT;

// A file version: dwFileVersionMS in the high word, dwFileVersionLS in the low word.
constexpr uint64_t MakeFileVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
    return uint64_t(a) << 48 | uint64_t(b) << 32 | uint64_t(c) << 16 | d;
}

// S_OK with the version; E_INVALIDARG for a null argument; E_FAIL when the file cannot be
// read or has no readable version resource; E_OUTOFMEMORY when it cannot be buffered.
HRESULT GetFileVersion(const char* path, uint64_t* version);

// 1, 0 or -1: the high words compared as unsigned numbers, then the low words.
int CompareVersions(uint64_t a, uint64_t b);

// Reads the version of the file at a path; GetFileVersion in the program, stand-ins in tests.
using FileVersionReader = std::function<HRESULT(const std::string& path, uint64_t* version)>;

// Where the system components live. Our Linux build has no such directory, so the check
// honestly finds nothing and reports 0.0.
extern const char* const kSystemDirectory;

// Always S_OK. Null outputs are not written. letter is ' ', 'a' or 'b'.
HRESULT GetDirectXVersion(uint32_t* major, uint32_t* minor, char* letter);
HRESULT GetDirectXVersion(const std::string& systemDirectory, const FileVersionReader& readVersion,
                          uint32_t* major, uint32_t* minor, char* letter);

}  // namespace reader
