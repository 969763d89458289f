// The two pages of the help dialog: fixed texts laid out for a fixed-pitch font, every line
// ending in CR LF.
#pragma once

#include <string>
#include <string_view>

namespace help {

inline constexpr std::string_view NewLine = "\r\n";
inline constexpr std::string_view KeysPageTitle = "その他のキーの割当て";
inline constexpr std::string_view MusicFilePageTitle = "ミュージックファイルの書き方";

// The 69-character rule of alternating "=" and "-", with its line break.
std::string RuleLine();
std::string KeysPage();
std::string MusicFilePage();

}  // namespace help
