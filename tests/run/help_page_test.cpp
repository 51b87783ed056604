#include "run/help_page.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "install_paths.h"
#include "test_util.h"

namespace vantrelle {
namespace {

using testing_util::TempDir;
using testing_util::WriteFile;

// A prefix laid out as `cmake --install` lays it out: bin/ and the manual's
// folder; the help page may be in either place.
class HelpPageTest : public testing::Test {
 protected:
  HelpPageTest() {
    std::filesystem::create_directories(bin_);
    std::filesystem::create_directories(docs_);
  }
  TempDir dir_;
  std::string bin_ = dir_.File("prefix/bin");
  std::string docs_ = dir_.File("prefix/share/doc/vantrelle");
};

TEST_F(HelpPageTest, InstalledManualIsFoundFromTheProgramsFolder) {
  EXPECT_STREQ("../share/doc/vantrelle", kDocFolderFromProgram);
  // Neither: the path beside the program, for the message that names it.
  EXPECT_EQ(bin_ + "/Vantrelle/Help/vantrelle-help.htm", FindHelpPage(bin_));
  WriteFile(docs_ + "/vantrelle-help.htm", "<html></html>");
  EXPECT_EQ(docs_ + "/vantrelle-help.htm", FindHelpPage(bin_));
  // A copy beside the program wins: a build folder or a copied program.
  std::filesystem::create_directories(bin_ + "/Vantrelle/Help");
  WriteFile(bin_ + "/Vantrelle/Help/vantrelle-help.htm", "<html></html>");
  EXPECT_EQ(bin_ + "/Vantrelle/Help/vantrelle-help.htm", FindHelpPage(bin_));
}

TEST_F(HelpPageTest, AFolderOfTheManualsNameIsNoManual) {
  std::filesystem::create_directories(docs_ + "/vantrelle-help.htm");
  EXPECT_EQ(bin_ + "/Vantrelle/Help/vantrelle-help.htm", FindHelpPage(bin_));
}

}  // namespace
}  // namespace vantrelle
