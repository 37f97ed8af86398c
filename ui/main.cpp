// SPDX-License-Identifier: BSD-3-Clause
// NUBOCONV, the converter's window program. Every choice comes from the
// window, from NUBOCONV.ini and from the definition files (beside the
// program, or in ../share/nubo in an installed tree). The command line only
// asks for help or the version, or names the path that the input field
// starts with (a desktop passes the file a user opened).
#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data_directory.h"
#include "fltk_window.h"
#include "main_window.h"
#include "os.h"
#include "settings_file.h"
#include "utf8_path.h"

#ifndef NUBO_VERSION
#error "NUBO_VERSION is set by the build"
#endif

namespace {

// Exit code when there is no window system to show the window on.
constexpr int kNoDisplayExit = 3;
// Exit code of a command line that cannot be used.
constexpr int kUsageExit = 2;

constexpr const char* kUsage =
    "Usage: NUBOCONV [PATH]\n"
    "Opens the window of the nubo .NAB converter, which upgrades old .NAB files\n"
    "(coder versions 20 and 21) to coder version 22 and encodes WAVE files.\n"
    "PATH, a file, a directory or a pattern, starts in the input field.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "The window needs an X display. See NUBOCONV(1) and nubo(1).\n";

struct CommandLine {
  enum class Action { Run, Help, Version, Refuse } action = Action::Run;
  std::string input;  // Run: the input field's first text (may be empty)
  std::string problem;  // Refuse: what is wrong
};

CommandLine parse(int argc, char** argv) {
  CommandLine line;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!optionsEnd && arg == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && (arg == "--help" || arg == "-h")) {
      line.action = CommandLine::Action::Help;
      return line;
    } else if (!optionsEnd && arg == "--version") {
      line.action = CommandLine::Action::Version;
      return line;
    } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
      return {CommandLine::Action::Refuse, {}, "unknown option " + arg};
    } else if (!line.input.empty()) {
      return {CommandLine::Action::Refuse, {}, "one PATH at most"};
    } else if (arg.empty()) {
      return {CommandLine::Action::Refuse, {}, "the PATH is empty"};
    } else if (nubo::platform::utf8Characters(arg) > nubo::ui::kMaxPathChars) {
      // The field holds no more; a path cut short would name another file.
      return {CommandLine::Action::Refuse, {},
              "the PATH is longer than " + std::to_string(nubo::ui::kMaxPathChars) + " characters"};
    } else {
      line.input = arg;
    }
  }
  return line;
}

// The home directory for the settings when HOME is not set: the user's
// entry in the password database.
const char* homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr ? entry->pw_dir : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine line = parse(argc, argv);
  switch (line.action) {
    case CommandLine::Action::Help:
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    case CommandLine::Action::Version:
      std::printf("NUBOCONV %s\n", NUBO_VERSION);
      return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    case CommandLine::Action::Refuse:
      std::fprintf(stderr, "NUBOCONV: %s\n%s", line.problem.c_str(), kUsage);
      return kUsageExit;
    case CommandLine::Action::Run:
      break;
  }

  // A write past the file size limit (ulimit -f) then fails with EFBIG and
  // is shown for its file, instead of ending the window without a word.
  std::signal(SIGXFSZ, SIG_IGN);

  const std::string programDirectory = nubo::platform::programDirectory();
  const std::string definitionDirectory = nubo::platform::dataDirectory(programDirectory, "NUBOCONV.h");
  // Beside the program in a folder of the user's own; an installed program
  // (even run by root) keeps them in the user's configuration directory.
  const std::string settingsStem = nubo::ui::settingsStemFor(programDirectory, definitionDirectory,
                                                             std::getenv("XDG_CONFIG_HOME"), homeDirectory());
  if (settingsStem.empty()) {
    std::fprintf(stderr, "NUBOCONV: no directory for the settings: neither XDG_CONFIG_HOME nor HOME names one.\n");
    return nubo::ui::kExitFailed;
  }

  // WATCHOUT: checked before FLTK opens the display itself, which would print
  // a terse "Can't open display" and exit(1) from wherever it first needs it.
  if (!nubo::platform::openDisplay()) {
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
      std::fprintf(stderr, "NUBOCONV: cannot open the X display \"%s\"; the converter needs a window system.\n",
                   display);
    } else {
      std::fprintf(stderr, "NUBOCONV: cannot open an X display (DISPLAY is not set); the converter needs a window system.\n");
    }
    return kNoDisplayExit;
  }
  nubo::platform::FltkWindow window;
  return nubo::ui::runConverterProgram(window, definitionDirectory + "/NUBOCONV.", settingsStem, line.input);
}
