#include "summary_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kelvo::cli {
namespace {

std::string Elapsed(std::chrono::steady_clock::duration elapsed) {
  const auto tenths = std::chrono::round<std::chrono::duration<long, std::deci>>(elapsed).count();
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
  return text;
}

}  // namespace

std::string FormatSummary(const std::vector<SummaryRow>& rows) {
  using Line = std::array<std::string, 5>;
  std::vector<Line> lines = {{"Port", "Outcome", "Blocks", "Errors", "Elapsed"}};
  for (const SummaryRow& row : rows) {
    lines.push_back({row.port, row.outcome, row.blocks.empty() ? "-" : row.blocks,
                     row.errors.empty() ? "-" : row.errors, Elapsed(row.elapsed)});
  }
  std::array<std::size_t, 5> widths{};
  for (const Line& line : lines) {
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  }
  std::string table;
  for (const Line& line : lines) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      text += line[i];
      if (i + 1 < line.size()) text.append(widths[i] - line[i].size() + 2, ' ');
    }
    table += text + "\n";
  }
  return table;
}

}  // namespace kelvo::cli
