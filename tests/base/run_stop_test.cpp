#include "base/run_stop.h"

#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vantrelle {
namespace {

TEST(RunStopTest, FirstRequestCancelsOnceAndSaysWhoAsked) {
  RunStop stop;
  std::vector<std::string> calls;
  stop.Check();  // nothing asked yet
  {
    ScopedCanceller statement(stop, [&] { calls.push_back("statement"); });
    stop.Request(SIGINT);
    stop.Request(SIGTERM);  // changes nothing
    EXPECT_EQ(std::vector<std::string>{"statement"}, calls);
    EXPECT_EQ("SIGINT", stop.Reason());
    try {
      stop.Check();
      ADD_FAILURE() << "no stop";
    } catch (const RunStopped& stopped) {
      EXPECT_EQ("SIGINT", std::string(stopped.what()));
    }
    // What registers after the request is cancelled at once; a repeat
    // reaches every canceller again.
    ScopedCanceller converter(stop, [&] { calls.push_back("converter"); });
    stop.RepeatCancel();
    EXPECT_EQ((std::vector<std::string>{"statement", "converter", "statement", "converter"}),
              calls);
  }
  stop.RepeatCancel();  // both are gone
  EXPECT_EQ(4u, calls.size());
  stop.Reset();
  EXPECT_FALSE(stop.Requested());
  EXPECT_EQ("", stop.Reason());
  stop.Request(0);
  EXPECT_EQ("the Stop command", stop.Reason());
  EXPECT_EQ("SIGHUP", StopSignalName(SIGHUP));
}

}  // namespace
}  // namespace vantrelle
