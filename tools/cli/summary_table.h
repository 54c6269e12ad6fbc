#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kelvo::cli {

// How one port's transfer went, for the table at the end of a run on several ports.
struct SummaryRow {
  std::string port;
  std::string outcome;  // "complete", "failed" or "halted"
  std::string blocks;   // the form's block field, e.g. "48 / 48"; empty when none was sent
  std::string errors;   // the form's error count; empty when no upload began
  std::chrono::steady_clock::duration elapsed;
};

// A heading and one aligned line per port.
std::string FormatSummary(const std::vector<SummaryRow>& rows);

}  // namespace kelvo::cli
