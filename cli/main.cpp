// verimek-cli: the desktop program's jobs from a terminal or a batch.
#include <edicom/EdiCom.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "Commands.h"
#include "Output.h"
#include "Platform.h"
#include "SysTrace.h"

namespace {

struct Command {
  const char* name;
  int (*run)(const cli::Args&);
  const char* usage;
};

const Command kCommands[] = {
    {"register", cli::CmdRegister, "register [LIBRARY...]      register the component libraries"},
    {"unregister", cli::CmdUnregister, "unregister [LIBRARY...]    remove their registration"},
    {"indent", cli::CmdIndent, "indent FILE                print the file's interchange indented"},
    {"unindent", cli::CmdUnindent, "unindent FILE              print it on one line"},
    {"check", cli::CmdCheck, "check FILE [OPTIONS]        validate the file's text as one message"},
    {"split", cli::CmdSplit, "split FILE                 print each line's interchanges, one per message"},
    {"syntax", cli::CmdSyntax,
     "syntax [--lines] FILE       list the syntax errors (one interchange per line with --lines)"},
    {"tree", cli::CmdTree, "tree FILE                  print the segment tree"},
    {"generate", cli::CmdGenerate, "generate FILE              parse and write the message back"},
    {"validate", cli::CmdValidate,
     "validate FILE [--db PATH] [--keepdb] [--jobs N] [--json] [--stop-on-error] [--message-date YYYY-MM-DD]\n"
     "                             validate every line into a results database and print its summary"},
    {"results", cli::CmdResults,
     "results DB [--message ID | --page OFFSET --rows N] [--by-text] [--json]\n"
     "                             print the summary of a results database (by text too), a page of its\n"
     "                             messages, or one message"},
    {"config", cli::CmdConfig,
     "config referential PATH    use this referential file (SQLite or Access)\n"
     "  config sql --server S --user U [--password-stdin] [--driver ODBC-DRIVER]\n"
     "                             use the REFERENTIEL catalog of a SQL Server"},
    {"referential", cli::CmdReferential,
     "referential                the configured referential: source, version, rows per table"},
    {"script", cli::CmdScript,
     "script FILE                run a control script without a message; print its messages and variables"},
};

void Usage(FILE* out) {
  if (out == stderr) {
    std::string text = "usage: verimek-cli COMMAND [ARGS]\n       verimek-cli --version\n\ncommands:\n";
    for (const Command& c : kCommands) text.append("  ").append(c.usage).append("\n");
    common::WriteStdErr(text);
    return;
  }
  std::fprintf(out, "usage: verimek-cli COMMAND [ARGS]\n       verimek-cli --version\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
}

}  // namespace

// Runs one command; whatever it lets escape (memory exhaustion above all) ends it with a
// message and status 2 instead of an abort. A failed write of its results is no success either.
int RunCommand(const Command& c, const cli::Args& args) {
  int rc = 2;
  try {
    rc = c.run(args);
  } catch (const std::bad_alloc&) {
    cli::ErrPrintf("verimek-cli: %s failed (out of memory: std::bad_alloc)\n", c.name);
    rc = 2;
  } catch (const std::exception& e) {
    cli::ErrPrintf("verimek-cli: %s failed (%s)\n", c.name, e.what());
    rc = 2;
  }
  if (!cli::FinishOutput()) rc = 2;
  return rc;
}

int main(int argc, char** argv) {
  cli::InitStandardStreams();
  // Standard output carries results that other tools read: trace lines never go there.
  EdiSetConsoleTraceAllowed(0);
  common::InitProgramTrace(argc, argv, VERIMEK_VERSION);
  // The trace switch may stand anywhere; the sub-commands never see it.
  std::vector<char*> kept;
  for (int i = 0; i < argc; ++i)
    if (i == 0 || !common::IsTraceSwitch(argv[i])) kept.push_back(argv[i]);
  argc = static_cast<int>(kept.size());
  kept.push_back(nullptr);
  argv = kept.data();
  if (argc < 2) {
    Usage(stderr);
    return 2;
  }
  std::string cmd = argv[1];
  if (cmd == "--version" || cmd == "-V") {
    std::printf("verimek-cli %s\n", VERIMEK_VERSION);
    return cli::FinishOutput() ? 0 : 2;
  }
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    Usage(stdout);
    return cli::FinishOutput() ? 0 : 2;
  }
  cli::Args args(argv + 2, argv + argc);
  for (const Command& c : kCommands)
    if (cmd == c.name) {
      CoInitialize(nullptr);
      int rc = RunCommand(c, args);
      CoUninitialize();
      return rc;
    }
  cli::ErrPrintf("verimek-cli: unknown command \"%s\"\n", cmd.c_str());
  Usage(stderr);
  return 2;
}
