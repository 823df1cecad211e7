// Sub-commands of verimek-cli. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

int CmdRegister(const Args& args);
int CmdUnregister(const Args& args);
int CmdIndent(const Args& args);
int CmdUnindent(const Args& args);
int CmdSplit(const Args& args);
int CmdValidate(const Args& args);
int CmdResults(const Args& args);

// check FILE [--message-date YYYY-MM-DD] [--no-check-filter] [--inter-application] [--json]
int CmdCheck(const Args& args);
// The parser's jobs on a file (CmdParser.cpp).
int CmdSyntax(const Args& args);
int CmdTree(const Args& args);
int CmdGenerate(const Args& args);
int CmdConfig(const Args& args);
int CmdReferential(const Args& args);
// script FILE: run a control script without a message; print messages and variables.
int CmdScript(const Args& args);

}  // namespace cli
