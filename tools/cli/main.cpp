#include "command_line.h"
#include "run_cli.h"
#include "terminal.h"

int main(int argc, char** argv) {
  kelvo::cli::PrepareTerminal();
  const kelvo::cli::CommandLine command_line = kelvo::cli::ParseCommandLine(argc, argv);
  if (!command_line.options) return command_line.exit_status;
  return kelvo::cli::RunCli(*command_line.options);
}
