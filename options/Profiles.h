#pragma once
// The two PSP output profiles, the output naming rule and the Hi/Lo button pair rule.
// Pure functions, shared by the window and the headless converter.
#include "media/Records.h"

#include <string>

namespace kv::options {

inline constexpr const char* kOutputFileExt = "_psp.mp4";
inline constexpr const char* kAuthor = "Kestrovid to PSP";

// The record of the Hi (H.264 480x272) or Lo (MPEG-4 368x192) profile, FileName left empty;
// every field a profile does not name keeps its "not set" default.
media::TOutputOptions pspProfile(bool hi);

// The output path beside the source: <source without extension>_(Kestrovid)<fileExt>, or
// when that exists _(Kestrovid_<n>)<fileExt> with the first free n = 1, 2, 3, ...
std::string OutputFileName(const std::string& sourcePath, const std::string& fileExt);

// The Hi/Lo toggle pair: exactly one is down. A click has already toggled the clicked
// button; these give both buttons' Down afterwards.
struct ProfileButtons {
    bool hiDown = true;
    bool loDown = false;
    bool hiEnabled = true;
    bool loEnabled = true;
};
ProfileButtons afterHiClick(ProfileButtons b);
ProfileButtons afterLoClick(ProfileButtons b);

} // namespace kv::options
