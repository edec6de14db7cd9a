// The maker's name and web addresses, shown by every part that names the
// maker (Add/Remove Programs, the About page, the download hints).
#pragma once

namespace sx {

inline constexpr char kMakerName[] = "Stellarix Software";
inline constexpr char kMakerWebSite[] = "https://www.stellarix.example/";
inline constexpr char kMakerSupportPage[] = "https://www.stellarix.example/support/";
inline constexpr char kMakerDownloadPage[] = "https://www.stellarix.example/download/";

}  // namespace sx
