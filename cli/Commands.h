// Sub-commands of verimek-cli. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

int CmdRegister(const Args& args);
int CmdUnregister(const Args& args);
int CmdConfig(const Args& args);
int CmdReferential(const Args& args);

}  // namespace cli
