// Inputs a merge must fail on, in one table for the engine's test (the inspection
// and RunMerge) and the command line's (tandemo-merge run as a program): both lay
// out the folder the same way and must report the same failure word for word,
// leave the output as it was (or still absent) and leave no scratch file.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace tandemo::test {

// How the folder is laid out before the run; the inputs are first.itc and
// second.itc, the output out.itc.
enum class Layout {
  Files,  // both inputs hold the case's bytes
  FirstMissing,
  SecondMissing,
  FirstIsFolder,
  FirstUnreadable,      // no permission bits; read by user nobody, as root reads anything
  FirstPathEmpty,       // the first input named by an empty path
  OutputFolderMissing,  // the output in a folder that does not exist
  OutputIsFolder,       // a folder where the output should be
  OutputPathEmpty,      // the output named by an empty path
};

// Which test runs a case: a layout one front end cannot be given stays with the other.
enum class RunBy { Both, Engine, CommandLine };

// What stands at the output's path before the run.
enum class PriorOutput { AbsentOrPresent, AbsentOnly, PresentOnly };

struct FailureCase {
  std::string name;
  Layout layout;
  std::string first;  // the inputs' bytes, where the layout writes them
  std::string second;
  bool compensate;
  bool force;  // merged even where the headers or time steps differ (--force)
  int code;    // the failure's code, as in "(53)"
  // The failure's message, exactly; "{dir}" stands for the test's folder. The
  // command line writes it as "tandemo-merge: " + message + "\n" and exits with 1.
  std::string message;
  RunBy runBy = RunBy::Both;
  PriorOutput prior = PriorOutput::AbsentOrPresent;
};

// One run of a case: with or without a previous output at the output's path.
struct FailureRun {
  FailureCase failure;
  bool outputExists = false;
};

inline std::ostream& operator<<(std::ostream& os, const FailureRun& r) {
  return os << r.failure.name << (r.outputExists ? " over a previous output" : "");
}

// "FirstMissing_NoOutput", "FirstMissing_OutputExists": for the test's name.
inline std::string FailureRunName(const ::testing::TestParamInfo<FailureRun>& info) {
  return info.param.failure.name + (info.param.outputExists ? "_OutputExists" : "_NoOutput");
}

inline const std::vector<FailureCase>& FailureCases() {
  const std::string first = Text({"$ITC", "@0", "1.0,1.0", "2.0,2.0"});
  const std::string second = Text({"@0", "1.0,5.0", "@1,x", "2.0,6.0"});
  const std::string noInjection =
      "No injection (1006): second file: no injection to append; is it an ITC data file? "
      "(\"{dir}/second.itc\")";
  const std::string noTimeStep =
      "No time step (1001): first file: fewer than two data lines (lines with a comma after the "
      "first marker line), so the time step cannot be taken";
  static const std::vector<FailureCase> cases = {
      {"FirstMissing", Layout::FirstMissing, "", second, false, false, 53,
       "File not found (53): first file: \"{dir}/first.itc\" cannot be opened: No such file or "
       "directory"},
      {"SecondMissing", Layout::SecondMissing, first, "", false, false, 53,
       "File not found (53): second file: \"{dir}/second.itc\" cannot be opened: No such file or "
       "directory"},
      {"FirstIsFolder", Layout::FirstIsFolder, "", second, false, false, 75,
       "Path/File access error (75): first file: \"{dir}/first.itc\" cannot be opened: Is a "
       "directory"},
      {"FirstUnreadable", Layout::FirstUnreadable, first, second, false, false, 70,
       "Permission denied (70): first file: \"{dir}/first.itc\" cannot be opened: Permission "
       "denied",
       RunBy::CommandLine},
      // The command line refuses an empty name before any merge, as a usage error.
      {"FirstPathEmpty", Layout::FirstPathEmpty, first, second, false, false, 52,
       "Bad file name (52): first file: no path was given", RunBy::Engine},
      {"MarkerNumberOverflow", Layout::Files, first, Text({"@1,x", "3,3", "@2147483647,y"}), false,
       false, 6,
       "Overflow (6): second file, line 3: the injection number 2147483647 + 1 does not fit in 32 "
       "bits"},
      {"TimeStampOverflow", Layout::Files, Text({"@0", "2147483645,1", "2147483647,2"}), second,
       false, true, 6,
       "Overflow (6): second file, line 4: the time stamp 2147483647 + 2 leaves the 32-bit range"},
      // 32767.5 - 0 rounds to 32768, one past the largest 16-bit step.
      {"TimeStepOverflow", Layout::Files, Text({"@0", "0,1", "32767.5,2"}), second, false, true, 6,
       "Overflow (6): first file, line 3: the time step from \"0\" to \"32767.5\" does not fit in "
       "16 bits"},
      {"LastTimeStampOverflow", Layout::Files, Text({"@0", "2147483640,1", "2147483648,2"}), second,
       false, true, 6,
       "Overflow (6): first file, line 3: the time stamp \"2147483648\" does not fit in 32 bits"},
      {"LastDataCommaAt32767", Layout::Files,
       Text({"@0", "1,1", "2" + std::string(32765, ' ') + ",5"}), second, false, false, 6,
       "Overflow (6): first file, line 3: the first comma stands at position 32767; the position "
       "after it does not fit in 16 bits"},
      {"SecondCommaAt32768", Layout::Files, first,
       Text({"@0", "1,1", "@1,x", std::string(32767, '3') + ",3"}), false, false, 6,
       "Overflow (6): second file, line 4: the first comma stands at position 32768, beyond 32767"},
      {"Subscript", Layout::Files, first, Text({"@0", "1,1", "@1,x", "2,2", "no comma"}), true,
       false, 9,
       "Subscript out of range (9): second file, line 5: the line \"no comma\" inside a data "
       "section has no DP field to compensate"},
      {"TypeMismatch", Layout::Files, first, Text({"@0", "1,1", "@1,x", "2,2", "3,abc", "4,4"}),
       true, false, 13,
       "Type mismatch (13): second file, line 5: the DP field \"abc\" is not a number"},
      // The NUL byte is shown escaped, so it cannot cut the message short.
      {"NulByteInAField", Layout::Files, first,
       Text({"@0", "1,1", "@1,x", "2,2", std::string("3,a\0b", 5), "4,4"}), true, false, 13,
       "Type mismatch (13): second file, line 5: the DP field \"a\\x00b\" is not a number"},
      {"OffsetOverflow", Layout::Files, Text({"@0", "1,1", "2,-3e38"}),
       Text({"@0", "1,3e38", "@1,x", "2,2"}), true, false, 6,
       "Overflow (6): second file, line 4: the DP offset between the reference DP 3e+38 and the "
       "first file's last DP -3e+38 is beyond the 32-bit float range"},
      // 1048577 bytes: one more than the longest line read.
      {"LineLongerThanOneMebibyte", Layout::Files, first,
       "@0\r\n" + std::string(1048577, '\0') + "\r\n@1,x\r\n2,2\r\n", false, false, 1010,
       "Line too long (1010): second file, line 2: the line is longer than 1 MiB (1048576 bytes), "
       "far longer than any line of ITC data; is it an ITC data file?"},
      // Nothing that is not a continuation is written: a file without an injection to append.
      {"SecondEmpty", Layout::Files, first, "", true, false, 1006, noInjection},
      {"SecondIsText", Layout::Files, first, Text({"Notes on the run, 2 of 3", "@ home"}), false,
       false, 1006, noInjection},
      {"SecondOnlyBaseline", Layout::Files, first, Text({"$ITC", "@0", "1,1", "2,2"}), false, false,
       1006, noInjection},
      {"SecondIsFirstAgain", Layout::Files, first, first, false, false, 1005,
       "Same run twice (1005): second file: \"{dir}/second.itc\" is the first file again (the same "
       "bytes); nothing was written"},
      {"NoBaseline", Layout::Files, first, Text({"$ 1 , 2 ", "@1,x", "", "2,2"}), true, false, 1002,
       "No baseline (1002): second file, line 4: no baseline line (a line with a comma after the "
       "first marker line) comes before the first data line, so there is no reference DP to "
       "compensate from"},
      {"EmptyFirstFile", Layout::Files, "", second, false, false, 1001, noTimeStep},
      // Header lines with commas come before the first marker line: they are no data lines.
      {"OnlyHeaderLines", Layout::Files, Text({"$ 1 , 2", "$ 3 , 4", "@0"}), second, false, false,
       1001, noTimeStep},
      {"OneDataLine", Layout::Files, Text({"$ 1 , 2", "@0", "5.0,1", "", "@1,x", "note"}), second,
       false, false, 1001, noTimeStep},
      {"OneDataLineLast", Layout::Files, Text({"$ 1 , 2", "@0", "5.0,1"}), second, false, false,
       1001, noTimeStep},
      // Without its cut-short last line the first file has one data line left.
      {"OneDataLineBesideACutShortOne", Layout::Files, Text({"@0", "1.00,9.1,25", "2.00,9.2"}),
       second, false, false, 1001, noTimeStep},
      {"StepZero", Layout::Files, Text({"@0", "5.00,1", "5.00,2"}), second, false, false, 1001,
       "No time step (1001): first file, line 3: the last two data lines have the time stamps "
       "\"5.00\" and \"5.00\", a time step of 0 that would not advance the time axis"},
      // 0.004 s is 0.4 hundredths, which rounds to 0.
      {"StepRoundsToZero", Layout::Files, Text({"@0", "5.000,1", "5.004,2", ""}), second, false,
       false, 1001,
       "No time step (1001): first file, line 3: the last two data lines have the time stamps "
       "\"5.000\" and \"5.004\", a time step of 0 that would not advance the time axis"},
      {"StepNegativeHalf", Layout::Files, Text({"@0", "5.5,1", "5.0,2"}), second, false, false,
       1001,
       "No time step (1001): first file, line 3: the last two data lines have the time stamps "
       "\"5.5\" and \"5.0\", a time step of -0.5 that would not advance the time axis"},
      {"StepNegative", Layout::Files, Text({"@0", "10.00,1", "5.00,2", "@2"}), second, false, false,
       1001,
       "No time step (1001): first file, line 3: the last two data lines have the time stamps "
       "\"10.00\" and \"5.00\", a time step of -5 that would not advance the time axis"},
      // Where the output path itself is wrong there is one state of it only.
      {"OutputFolderMissing", Layout::OutputFolderMissing, first, second, false, false, 76,
       "Path not found (76): output file: cannot create a file in the folder \"{dir}/missing\": "
       "No such file or directory",
       RunBy::Both, PriorOutput::AbsentOnly},
      {"OutputIsFolder", Layout::OutputIsFolder, first, second, false, false, 75,
       "Path/File access error (75): output file: \"{dir}/out.itc\" is a folder, not a file that "
       "can be replaced",
       RunBy::Both, PriorOutput::PresentOnly},
      // The command line refuses an empty name before any merge, as a usage error.
      {"OutputPathEmpty", Layout::OutputPathEmpty, first, second, false, false, 52,
       "Bad file name (52): output file: no output path was given", RunBy::Engine,
       PriorOutput::AbsentOnly},
  };
  return cases;
}

// Every run of the cases the given front end runs.
inline std::vector<FailureRun> FailureRuns(RunBy frontEnd) {
  std::vector<FailureRun> runs;
  for (const FailureCase& c : FailureCases()) {
    if (c.runBy != RunBy::Both && c.runBy != frontEnd) continue;
    if (c.prior != PriorOutput::PresentOnly) runs.push_back({c, false});
    if (c.prior != PriorOutput::AbsentOnly) runs.push_back({c, true});
  }
  return runs;
}

// The paths a run names, after its folder is laid out.
struct FailurePaths {
  std::string first, second, output;
};

// Lays out the folder for one run: the inputs as the case has them and, when the
// run asks for it, a previous output of its own mode and an old time, so that a
// rewrite of it would show.
inline FailurePaths LayOut(const FailureRun& run, const TempDir& dir) {
  const FailureCase& c = run.failure;
  FailurePaths paths{dir / "first.itc", dir / "second.itc", dir / "out.itc"};
  if (c.layout == Layout::FirstIsFolder) {
    EXPECT_TRUE(std::filesystem::create_directory(paths.first));
  } else if (c.layout != Layout::FirstMissing) {
    WriteFile(paths.first, c.first);
  }
  if (c.layout == Layout::FirstUnreadable) {
    EXPECT_EQ(::chmod(paths.first.c_str(), 0), 0);
  }
  if (c.layout != Layout::SecondMissing) WriteFile(paths.second, c.second);
  if (c.layout == Layout::FirstPathEmpty) paths.first.clear();
  if (c.layout == Layout::OutputFolderMissing) paths.output = dir / "missing/out.itc";
  if (c.layout == Layout::OutputPathEmpty) paths.output.clear();
  if (c.layout == Layout::OutputIsFolder) {
    EXPECT_TRUE(std::filesystem::create_directory(paths.output));
    SetOldMtime(paths.output);
  } else if (run.outputExists) {
    WriteFile(paths.output, "the previous result\r\n");
    EXPECT_EQ(::chmod(paths.output.c_str(), 0640), 0);
    SetOldMtime(paths.output);
  }
  return paths;
}

}  // namespace tandemo::test
