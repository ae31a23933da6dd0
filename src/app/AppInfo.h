#pragma once
// The project's own addresses, used by the settings screen's mails and the desktop files.

namespace appinfo {

inline constexpr char kSupportAddress[] = "support@tavrio.org";
inline constexpr char kStoreLink[] = "https://tavrio.org";
inline constexpr char kDesktopId[] = "org.tavrio.Tavrio";

}  // namespace appinfo
