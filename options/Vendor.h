#pragma once
// The maker's web-site domain, written into every output's comment.

namespace kv::options {

inline constexpr const char* kVendorDomain = "kestrovid.example";

} // namespace kv::options
