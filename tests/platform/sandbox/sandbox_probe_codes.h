// Exit codes of sandbox_probe, shared with its test. 0 is the crash filter's.
#pragma once

constexpr int kUsage = 2;
constexpr int kSetUp = 3;
constexpr int kCallReturned = 10;
constexpr int kAllowedWorked = 11;
constexpr int kAllowedFailed = 12;
constexpr int kOtherSignal = 13;
