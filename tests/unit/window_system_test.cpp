#include "platform/window_system_headless.h"

#include <gtest/gtest.h>

#include <thread>

#include "quenvar/automation_error.h"
#include "core/thread_state.h"
#include "dialogs/email_settings.h"
#include "dialogs/error_dialog.h"
#include "platform/platform.h"

namespace quenvar {
namespace {

TEST(HeadlessWindowSystem, RefusesToShowAnyForm) {
  HeadlessWindowSystem windows;
  EmailSettingsDialog settings;
  ThreadState state;
  ErrorDialog report(defaultPlatform(), state);
  for (Form* form : {static_cast<Form*>(&settings), static_cast<Form*>(&report)}) {
    try {
      windows.showModal(*form);
      ADD_FAILURE() << "there is nothing to show " << form->caption << " on";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), err::kInvalidCall);
      EXPECT_EQ(e.description(), "No window system is available to show the dialog");
    }
  }
}

// The dialog lives in this build's thread state, so it ends with its thread; run on threads of
// their own so that no test leaves one behind.
TEST(ThreadErrorDialog, OnePerThreadKeepingItsMembers) {
  const ErrorDialogHost* theirs = nullptr;
  std::thread([&] {
    ErrorDialogHost& mine = threadErrorDialog(defaultPlatform(), threadState());
    mine.set(&ErrorDialogInput::m_dblErrNum, 11.0);
    ErrorDialogHost& again = threadErrorDialog(defaultPlatform(), threadState());
    EXPECT_EQ(&again, &mine);
    EXPECT_EQ(dynamic_cast<ErrorDialog&>(again).m_dblErrNum, 11.0);
    std::thread([&] {
      theirs = &threadErrorDialog(defaultPlatform(), threadState());
      EXPECT_EQ(dynamic_cast<const ErrorDialog*>(theirs)->m_dblErrNum, 0.0);
    }).join();
    EXPECT_NE(theirs, &mine);
  }).join();
  EXPECT_NE(theirs, nullptr);
}

}  // namespace
}  // namespace quenvar
