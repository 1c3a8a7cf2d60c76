#pragma once

// Who ships this build and where its users find help: the About window's links and lines. One
// place, so a distributor who packages the application changes them here and nowhere else.
namespace ProjectInfo {

inline constexpr const char* shortVersion = "0.1";
inline constexpr const char* buildVersion = "1";

inline constexpr const char* websiteURL = "https://orvanta.example.org/";
inline constexpr const char* supportURL = "https://orvanta.example.org/support/";
inline constexpr const char* forumURL = "https://forum.orvanta.example.org/";
inline constexpr const char* homeURL = "https://orvanta.example.org/about/";

inline constexpr const char* creditLine = "Made by the Orvanta developers";
inline constexpr const char* legalNotice = "© 2026 The Orvanta developers. Free software.";
inline constexpr const char* closingNote = "Written so that photos and files move between a phone and a "
                                           "Linux computer without a cloud service in between.";

} // namespace ProjectInfo
