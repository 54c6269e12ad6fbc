#include <cstdio>
#include <cstring>

#include "kelvo_version.h"
#include "window/qt/loader_app.h"

namespace {

constexpr char kUsage[] =
    "Usage: kelvo [--help | --version]\n"
    "Opens the Kelvo window, which loads a firmware image into a ZARQ device over a serial\n"
    "port or plays a script of bytes to it. The form is kept in KELVO.DAT in the current\n"
    "directory. kelvo-cli runs the same transfers from a shell; see kelvo(1) and kelvo-cli(1).\n";

}  // namespace

// The window takes no options, but these two answer before any display is needed, as the
// user of an installed program expects.
int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kelvo %s\n", kelvo::kVersion);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  kelvo::LoaderApp app;
  app.InitInstance();
  return 0;
}
