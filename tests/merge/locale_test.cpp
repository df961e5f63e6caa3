// "." in everything read and written, whatever the process locale says: a desktop
// program takes the user's locale, and a comma-decimal one must not change a byte.
#ifndef _WIN32
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <stdexcept>
#include <string>

#include "merge/merge_run.hpp"
#include "merge/number_read.hpp"
#include "merge/number_text.hpp"
#include "test_support.hpp"

#ifndef _WIN32
extern char** environ;
#endif

// glibc keeps the search path of a locale loaded through LOCPATH for the life of
// the process; LeakSanitizer would otherwise report it against this test.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace tandemo {
namespace {

using test::TempDir;
using test::Text;

#ifdef _WIN32
// The C runtime's name of the German locale, whose decimal separator is a comma.
constexpr const char* kLocale = "German_Germany.1252";

std::string MakeGermanLocale() {
  if (std::setlocale(LC_ALL, kLocale) == nullptr)
    return std::string(kLocale) + " cannot be set here";
  std::setlocale(LC_ALL, "C");
  try {
    std::locale german(kLocale);
  } catch (const std::runtime_error&) {
    return "the C++ library here knows no named locale but \"C\"";
  }
  return {};
}
#else
constexpr const char* kLocale = "de_DE.UTF-8";

// Runs a program and waits for it; its exit status, or -1 when it could not be started.
int RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Makes the German locale available without root: compiled into the build folder
// when the system lacks it, and found there through LOCPATH. Empty when it works.
std::string MakeGermanLocale() {
  if (std::setlocale(LC_ALL, kLocale) != nullptr) {
    std::setlocale(LC_ALL, "C");
    return {};
  }
  const std::string root = TANDEMO_TEST_LOCALE_DIR;
  const std::string target = root + "/" + kLocale;
  std::error_code ec;
  if (!std::filesystem::exists(target + "/LC_NUMERIC", ec)) {
    std::filesystem::create_directories(root, ec);
    // Built beside the target and renamed into place, since test cases run in parallel.
    const std::string scratch = target + ".part" + std::to_string(::getpid());
    int rc = RunProgram({"localedef", "-i", "de_DE", "-f", "UTF-8", scratch});
    if (rc == -1 || rc == 127) return "localedef is not available (Debian package \"locales\")";
    if (!std::filesystem::exists(scratch + "/LC_NUMERIC", ec)) {
      std::filesystem::remove_all(scratch, ec);
      return "localedef could not compile de_DE.UTF-8 (exit status " + std::to_string(rc) + ")";
    }
    if (::rename(scratch.c_str(), target.c_str()) != 0) std::filesystem::remove_all(scratch, ec);
  }
  ::setenv("LOCPATH", root.c_str(), 1);
  if (std::setlocale(LC_ALL, kLocale) == nullptr)
    return "de_DE.UTF-8 cannot be set even from " + root;
  std::setlocale(LC_ALL, "C");
  return {};
}
#endif

class CommaLocaleTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why = MakeGermanLocale();
    if (!why.empty()) GTEST_SKIP() << why;
  }
  void TearDown() override { std::locale::global(std::locale::classic()); }

  // Switches both the C and the C++ locale, and proves that the switch took hold.
  static void UseGerman() {
    std::locale::global(std::locale(kLocale));
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 2.5);
    ASSERT_STREQ(buf, "2,5");
    ASSERT_EQ(std::strtod("2.5", nullptr), 2.0);
  }
};

TEST_F(CommaLocaleTest, MergeWritesTheSameBytes) {
  const std::string first =
      Text({"$ITC", "$ 0.4 , 0.8 , 180 , 5 ", "@0", "596.0,10.50,25.0", "598.0,10.52,25.0"});
  const std::string second = Text({"# 1.5 ", "@0", "2.0,10.90,25.1", "4.0,10.92,25.1", "@1,5.0",
                                   "6.0,11.40,25.1", "8.0,11.38,25.1", "9.5,-0.000123,1e3"});
  for (bool compensate : {false, true}) {
    SCOPED_TRACE(compensate ? "compensated" : "not compensated");
    TempDir c, de;
    for (const TempDir* d : {&c, &de}) {
      test::WriteFile(*d / "first.itc", first);
      test::WriteFile(*d / "second.itc", second);
    }
    MergeOutcome inC = RunMerge(c / "first.itc", c / "second.itc", c / "out.itc", compensate);
    ASSERT_TRUE(inC.ok()) << inC.error->Message();
    UseGerman();
    MergeOutcome inGerman =
        RunMerge(de / "first.itc", de / "second.itc", de / "out.itc", compensate);
    std::locale::global(std::locale::classic());
    ASSERT_TRUE(inGerman.ok()) << inGerman.error->Message();

    const std::string bytes = test::ReadFile(c / "out.itc").value_or("");
    EXPECT_EQ(test::ReadFile(de / "out.itc").value_or(""), bytes);
    EXPECT_NE(bytes.find(compensate ? "600.00,11.0,25.1" : "600.00,11.40,25.1"), std::string::npos)
        << bytes;
    // The summary is read by people and scripts alike: "." there as well.
    if (compensate) {
      std::string summary = Describe(inGerman.summary);
      EXPECT_NE(summary.find("DP offset 0.39999962."), std::string::npos) << summary;
    }
  }
}

TEST_F(CommaLocaleTest, ConversionsKeepThePoint) {
  UseGerman();
  EXPECT_EQ(LeadingValue("2.5,7"), 2.5);
  EXPECT_EQ(LeadingValue("2,5"), 2.0);
  Checked<double> field = FieldNumber(" 12.75 ");
  ASSERT_TRUE(field.ok());
  EXPECT_EQ(field.value, 12.75);
  EXPECT_EQ(FieldNumber("12,75").failure, Failure::TypeMismatch);
  EXPECT_EQ(SignalText(-1234.5), "-1234.5");
  EXPECT_EQ(TimeStampText(123456725), "1234567.25");
  EXPECT_EQ(StartTimeText(1234.5), "1234.5");
  EXPECT_EQ(IntegerText(-1234567), "-1234567");
  EXPECT_EQ(ShortestText(0.3999996185302734375f), "0.39999962");
}

}  // namespace
}  // namespace tandemo
