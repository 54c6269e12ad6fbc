#pragma once

#include <string>

namespace kelvo {

// Turns path (a full path) into that of the file a save there writes: the file itself, or the
// one a link there names when the link is the user's own, the Administrators' or the system's.
// Returns why not when the link is another user's or names nothing.
std::string FollowTrustedLink(std::string& path);

}  // namespace kelvo
