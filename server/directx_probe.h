// The DirectX capability probe behind command 6. The server owns one.
#pragma once

#include "platform/kernel/platform.h"

// The DirectX level codes, major version x 256 + minor version.
constexpr DWORD kDirectXNone = 0x0000;
constexpr DWORD kDirectX1 = 0x0100;
constexpr DWORD kDirectX2 = 0x0200;
constexpr DWORD kDirectX3 = 0x0300;
constexpr DWORD kDirectX5 = 0x0500;
constexpr DWORD kDirectX6 = 0x0600;
constexpr DWORD kDirectX6_1 = 0x0601;
constexpr DWORD kDirectX7 = 0x0700;
constexpr DWORD kDirectX8 = 0x0800;

class DirectXLevelProbe {
 public:
  // The platform outlives the probe.
  explicit DirectXLevelProbe(Platform& platform) : platform_(platform) {}

  // Tries DirectDraw, DirectInput, DirectMusic, the filter graph manager,
  // DirectDraw 7 and Direct3D 8 in turn and returns the level of the first
  // that is missing (kDirectX8 when none is). *FilterGraphAvailable becomes 1
  // exactly when the filter graph manager could be created. Every library it
  // loads is freed and every object it creates released before it returns;
  // nothing is kept between probes.
  DWORD Probe(BYTE* FilterGraphAvailable);

 private:
  Platform& platform_;
};
