// SPDX-License-Identifier: MIT
#pragma once
// The version of the server's schema that this build writes. Each back end
// keeps one migration step per version (never edit a released step; append
// one and raise this number); Database brings older databases up to it when
// it opens them and refuses newer ones.

namespace vantrel::server {

inline constexpr int kSchemaVersion = 7;

}  // namespace vantrel::server
