#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "client_objects.h"
#include "core/thread_state.h"
#include "dialogs/thread_dialogs.h"
#include "handler/procedures.h"
#include "mail/mail_settings.h"
#include "fakes/fake_platform.h"
#include "quenvar/err_handler.h"
#include "../error_number.h"

namespace quenvar::test {

inline int32_t failureNumber(const std::function<void()>& f) { return quenvar::testing::errorNumber(f); }

inline std::vector<std::string> names(const VariantArray& a) {
  std::vector<std::string> out;
  for (const Variant& v : a.items) out.push_back(*v.string());
  return out;
}

// A handler over fake services, with the log folder of a typical client present and a
// recording stand-in as the thread's error dialog.
struct HandlerFixture : ::testing::Test {
  fake::Services services;
  fake::ErrorDialogHost dialog;
  clsErrHandler handler{services.platform};
  HandlerFixture() {
    services.files.folders.insert("/logs");
    threadState().part<ThreadDialogs>().errorDialog = std::shared_ptr<ErrorDialogHost>(std::shared_ptr<void>(), &dialog);
  }
  ~HandlerFixture() override { threadState().part<ThreadDialogs>().errorDialog.reset(); }
};

}  // namespace quenvar::test
