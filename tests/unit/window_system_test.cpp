#include "platform/headless_window_system.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/automation_error.h"

namespace quenvar {
namespace {

void keepsAssignedMembersAndRefusesToShow() {
  HeadlessWindowSystem windows;
  HeadlessDialogHost& host = windows.errorDialog();
  host.assign("m_dblErrNum", 11.0);
  host.assign("AppLog", "details");
  host.assign("applog", "replaced");
  EXPECT_NO_THROW(host.refresh());
  ASSERT_EQ(host.members().size(), 2u);
  EXPECT_EQ(*host.members().at("M_DBLERRNUM").doubleValue(), 11.0);
  EXPECT_EQ(*host.members().at("AppLog").string(), "replaced");
  try {
    host.showModal();
    ADD_FAILURE() << "there is nothing to show a dialog on";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), err::kInvalidCall);
    EXPECT_EQ(e.description(), "No window system is available to show the dialog");
  }
}

// The host lasts as long as its thread, so a new thread starts with an empty one.
TEST(HeadlessWindowSystem, KeepsAssignedMembersAndRefusesToShow) {
  std::thread(keepsAssignedMembersAndRefusesToShow).join();
}

TEST(HeadlessWindowSystem, OneDialogPerThread) {
  HeadlessWindowSystem windows;
  HeadlessDialogHost* mine = &windows.errorDialog();
  EXPECT_EQ(&windows.errorDialog(), mine);
  mine->assign("Marker", true);
  const HeadlessDialogHost* theirs = nullptr;
  size_t theirMembers = 99;
  std::thread([&] {
    theirs = &windows.errorDialog();
    theirMembers = theirs->members().size();
  }).join();
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(theirMembers, 0u);
}

}  // namespace
}  // namespace quenvar
