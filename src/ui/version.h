#pragma once

namespace ui {

inline constexpr int VersionMajor = 1;
inline constexpr int VersionMinor = 4;
inline constexpr int VersionRevision = 4;

}  // namespace ui
