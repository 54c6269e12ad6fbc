#pragma once

#include <optional>
#include <string>

namespace kelvo {

// The number after prefix, when the name is exactly prefix followed by up to six digits
// ("COM12" after "COM" is 12).
std::optional<unsigned long> NumberAfter(const std::string& name, const std::string& prefix);

}  // namespace kelvo
