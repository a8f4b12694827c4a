#pragma once
// Fixed names of this program and its maker, shared by every module that needs them.

namespace kv::platform {

// The maker's web-site domain (credit row of the subtitle table, web pages).
inline constexpr char kVendorDomain[] = "kestrovid.example";

inline constexpr char kProgramName[] = "Kestrovid to PSP";
inline constexpr char kProgramShortName[] = "PSP";
inline constexpr char kVersionText[] = "1.3";

// The program's own key (registration values, date of the last update check).
inline constexpr char kRegistrationKey[] = "\\Software\\Kestrovid\\PSP";
// The sibling player's key, read for the subtitle settings and never written.
inline constexpr char kPlayerSettingsKey[] = "\\Software\\Quadrell\\Kestroplay\\";

} // namespace kv::platform
