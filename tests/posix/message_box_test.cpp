#include "platform/posix/message_box_stderr.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <sstream>

#include "temp_folder.h"

namespace quenvar {
namespace {

TEST(StderrMessageBox, WritesTitleAndTextAsOneLine) {
  std::ostringstream out;
  EXPECT_EQ(StderrMessageBox(out).show("Error.log was not found", "Quenvar", MessageBoxService::kCritical),
            MessageBoxService::kAnsweredOk);
  EXPECT_EQ(out.str(), "Quenvar: Error.log was not found\n");

  // By default to the real standard error.
  testing::TempFolder dir;
  const int file = ::open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int saved = ::dup(2);
  ::dup2(file, 2);
  const int answer = StderrMessageBox().show("text", "title", MessageBoxService::kOk);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(file);
  EXPECT_EQ(answer, MessageBoxService::kAnsweredOk);
  EXPECT_EQ(testing::readAll(dir / "stderr"), "title: text\n");
}

}  // namespace
}  // namespace quenvar
