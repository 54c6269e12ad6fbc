#include "image/file_extension.h"

#include <algorithm>
#include <cctype>

namespace kelvo {

std::string LowerCaseExtension(const std::string& path) {
  const std::size_t name_start = path.find_last_of("/\\");
  const std::string name = name_start == std::string::npos ? path : path.substr(name_start + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return "";
  std::string extension = name.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

}  // namespace kelvo
