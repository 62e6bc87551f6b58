#include "platform/posix/stderr_message_box.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <sstream>

#include "temp_folder.h"

namespace quenvar {
namespace {

TEST(StderrMessageBox, WritesTitleAndTextAsOneLine) {
  std::ostringstream out;
  StderrMessageBox box(out);
  EXPECT_EQ(box.show("Error.log was not found", "Quenvar", MessageBox::kCritical), MessageBox::kAnsweredOk);
  EXPECT_EQ(out.str(), "Quenvar: Error.log was not found\n");
}

TEST(StderrMessageBox, GoesToStandardErrorByDefault) {
  testing::TempFolder dir;
  const std::string captured = dir / "stderr";
  const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  std::cerr.flush();
  const int saved = ::dup(2);
  ::dup2(file, 2);
  const int answer = StderrMessageBox().show("text", "title", MessageBox::kOk);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(file);
  EXPECT_EQ(answer, MessageBox::kAnsweredOk);
  EXPECT_EQ(testing::readAll(captured), "title: text\n");
}

}  // namespace
}  // namespace quenvar
