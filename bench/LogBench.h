// W5, the log and its pane: memory, the cost of a received piece, large loads and saves.
#pragma once

#include <string>

// Runs the log's benchmarks (shorter with AQuick) and returns their tables in Markdown.
std::string LogBenchmarks(bool AQuick);
