#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace tonaro::cli {

// Prints the fields of each sound database; a file that is not one gets a reason on `err`.
// Returns 0 when every file was shown, 1 otherwise.
int RunInfo(const std::vector<std::string>& paths, std::ostream& out, std::ostream& err);
void AddInfoCommand(CLI::App& app, int& exitStatus);

}  // namespace tonaro::cli
