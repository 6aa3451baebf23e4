// GUID with the Windows layout, and the helpers that compare and print it.
#pragma once

#include <cstring>

#include "platform/win/types.h"

#ifdef _WIN32

// The system's GUID and its comparison operators; UuidToStringA and
// RpcStringFreeA of the RPC runtime.
#include <rpc.h>

// The system's UuidToStringA takes a non-const UUID it never writes to.
inline RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* text) { return ::UuidToStringA(const_cast<UUID*>(uuid), text); }

#else

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using UUID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

#endif  // _WIN32

// The FOURCC media subtype GUID: {xxxxxxxx-0000-0010-8000-00AA00389B71}.
constexpr GUID FourccGuid(char a, char b, char c, char d) {
  return GUID{static_cast<DWORD>(static_cast<BYTE>(a)) | static_cast<DWORD>(static_cast<BYTE>(b)) << 8 |
                  static_cast<DWORD>(static_cast<BYTE>(c)) << 16 | static_cast<DWORD>(static_cast<BYTE>(d)) << 24,
              0x0000,
              0x0010,
              {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

#ifndef _WIN32
using RPC_STATUS = LONG;
using RPC_CSTR = unsigned char*;
constexpr RPC_STATUS RPC_S_OK = 0;
constexpr RPC_STATUS RPC_S_OUT_OF_MEMORY = 14;

// Formats the GUID as the lower-case 8-4-4-4-12 text without braces into a
// string that the caller frees with RpcStringFreeA.
RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* text);
RPC_STATUS RpcStringFreeA(RPC_CSTR* text);
#endif  // _WIN32
