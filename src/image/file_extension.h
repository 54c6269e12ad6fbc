#pragma once

#include <string>

namespace kelvo {

// The file name's extension with its dot, in lower case, e.g. ".bin"; "" when the name has none.
// Both separators end a folder name, for operators who type Windows paths.
std::string LowerCaseExtension(const std::string& path);

}  // namespace kelvo
