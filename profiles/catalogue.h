// The profile catalogue: 28 groups of output profiles (devices, device families, general video
// and audio formats), each profile named by its caption and numbered by its code, group × 100 +
// item. The code names the profile's sections in the settings file and the format file.
#pragma once

#include <string>
#include <vector>

namespace profiles {

inline constexpr int kGroupCount = 28;
inline constexpr int kMaxItems = 51;  // item slots a group can hold

struct TProfileGroup {
  std::string header;                 // the group's header caption
  std::vector<std::string> profiles;  // captions by item index; an empty caption is no profile
};

inline constexpr int ProfileCode(int group, int item) { return group * 100 + item; }

// Group 0 … 27.
const TProfileGroup& Group(int group);
// The caption of a profile code; "" when the code names no profile.
std::string ProfileCaption(int code);
// Every profile code, in catalogue order (121 of them).
std::vector<int> AllProfileCodes();

}  // namespace profiles
