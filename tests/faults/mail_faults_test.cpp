// TransmitMail on each route and the settings dialog's "Ok" with each platform call failing in turn.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "quenvar/dynamic_object.h"
#include "core/thread_state.h"
#include "dialogs/thread_dialogs.h"
#include "handler/procedures.h"
#include "mail/mail_settings.h"
#include "faults/fault_sweep.h"
#include "fakes/fake_platform.h"
#include "quenvar/err_handler.h"

namespace quenvar::faults {
namespace {

const char* const kSuccess[] = {"Composed Error Email in MS Outlook.", "Composed Error Email in Default Mail Client.",
                                "Composed Error Email in SMTP."};
const char* const kValidation = "Enter the MailServer for sending the Email through SMTP.";

// The user of the settings dialog: picks `route`, presses "Ok" once too early on SMTP, then
// fills the boxes and presses it again.
fake::WindowSystem::User settingsUser(int route) {
  return [route](Form& f) {
    f.onClick("optEmailType(" + std::to_string(route) + ")");
    if (route == 2) {
      f.onEdit("txtMailserver", "");
      f.onClick("cmdSend");
      f.onEdit("txtMailserver", "mail.example.com");
      f.onEdit("txtFrom", "Build");
      f.onEdit("txtEmailAddress", "build@example.com");
    }
    f.onClick("cmdSend");
  };
}

struct Scene {
  fake::Services fakes;
  FaultyPlatform faulty;
  clsErrHandler handler{faulty.platform};
  std::vector<std::string> sent;  // what the Outlook stand-in sent

  Scene(FaultPlan& plan, int route) : faulty(fakes.platform, plan) {
    fakes.settings.setMail("EmailSettings", "True");
    fakes.settings.setMail("ShowEmlScre", "0");
    fakes.windows.users["Email"] = settingsUser(route);
    handler.EmailAddress("ops@example.com");
    handler.ToName("Ops");
    fakes.mailClient.make = [this] {
      auto recipients = std::make_shared<DynamicObject>();
      recipients->on("Add", [](std::span<const Variant>) { return Variant(); });
      auto item = std::make_shared<DynamicObject>();
      item->set("Recipients", Variant(ObjectRef(recipients))).set("Body", "").set("Subject", "");
      item->on("Send", [this](std::span<const Variant>) {
        sent.push_back("item");
        return Variant();
      });
      auto app = std::make_shared<DynamicObject>();
      app->on("CreateItem", [item](std::span<const Variant>) { return Variant(ObjectRef(item)); });
      return ObjectRef(app);
    };
  }
  // The message boxes that tell the outcome, in order.
  std::vector<std::string> outcomes() const {
    std::vector<std::string> out;
    for (const auto& m : fakes.messageBox.shown)
      if (m.text != kValidation) out.push_back(m.text);
    return out;
  }
  bool delivered(int route) const {
    if (route == 0) return !sent.empty();
    if (route == 1) return !fakes.shell.calls.empty();
    const auto& log = fakes.network.server.log;
    return std::find(log.begin(), log.end(), "QUIT\r\n") != log.end();
  }
};

TEST(TransmitMailFaults, EndsSilentlyOrTellsTheOutcomeAndAlwaysRestores) {
  for (int route : {0, 1, 2}) {
    for (bool sticky : {false, true}) {
      SCOPED_TRACE("route " + std::to_string(route));
      const int faulted = sweep({sticky}, [&](FaultPlan& plan) {
        Scene s(plan, route);
        plan.arm();
        s.handler.TransmitMail("the report");
        plan.disarm();
        SCOPED_TRACE(plan.record());

        EXPECT_EQ(s.fakes.pointer.value(), MousePointer::kDefault);
        EXPECT_EQ(s.fakes.clipboard.text, plan.injectedInto(Service::Clipboard) ? "(earlier content)" : "the report");
        EXPECT_EQ(s.fakes.network.opened, s.fakes.network.discarded) << "the handler's own connection goes";
        EXPECT_FALSE(s.fakes.network.server.sink) << "no connection still calls into a finished session";

        // A failing store, clipboard, dialog or connection ends the operation without a word.
        const bool silent = plan.injectedInto(Service::Settings) || plan.injectedInto(Service::Clipboard) ||
                            plan.injectedInto(Service::Windows) || plan.injectedInto(Service::Network);
        const std::vector<std::string> outcomes = s.outcomes();
        EXPECT_LE(outcomes.size(), 1u);
        if (silent) {
          EXPECT_TRUE(outcomes.empty());
        }
        if (!sticky && !silent && !plan.injectedInto(Service::MessageBox)) {
          const bool fails = plan.injectedInto("MailClient.create");
          ASSERT_EQ(outcomes.size(), 1u);
          EXPECT_EQ(outcomes[0], fails ? "Error occurred while attempting to compose Error email in MS Outlook"
                                       : kSuccess[route]);
          EXPECT_EQ(s.delivered(route), !fails);
        }

        // Once the platform works again, the next report goes.
        s.fakes.messageBox.shown.clear();
        s.handler.TransmitMail("the report");
        EXPECT_EQ(s.outcomes(), std::vector<std::string>{kSuccess[route]});
        EXPECT_EQ(s.fakes.pointer.value(), MousePointer::kDefault);
      });
      EXPECT_GT(faulted, 0);
    }
  }
}

TEST(EmailSettingsFaults, OkWritesItsKeysInOrderOrTheStoresFailureReachesTheCaller) {
  for (const Sweep& how : {Sweep{false}, Sweep{true}, Sweep{true, Service::Settings}}) {
    const int faulted = sweep(how, [&](FaultPlan& plan) {
      Scene s(plan, 2);
      s.fakes.settings.values.clear();
      plan.arm();
      int32_t thrown = 0;
      try {
        s.handler.ChangeEmailSettings();
      } catch (const AutomationError& e) {
        thrown = e.number();
      }
      plan.disarm();
      SCOPED_TRACE(plan.record());

      int32_t expected = 0;
      for (const std::string& what : plan.injected()) {
        if (what.rfind("Settings.", 0) == 0) expected = err::kPathFileAccess;
        else if (what == "Windows.showModal") expected = err::kInvalidCall;
        if (expected) break;
      }
      EXPECT_EQ(thrown, expected);
      // What was written stays, and nothing is written past a failed key.
      const auto key = [&](const char* k) { return s.fakes.settings.mail(k); };
      EXPECT_TRUE(!key("EmailFlag") || key("EmailType"));
      EXPECT_TRUE(!key("EmailType") || key("ShowEmlScre"));
      if (thrown == 0) {
        EXPECT_EQ(key("ShowEmlScre"), "0");
        EXPECT_EQ(key("EmailType"), "2");
        EXPECT_EQ(key("EmailFlag"), "True");
        EXPECT_EQ(threadState().part<MailValues>().mailServer, "mail.example.com");
        EXPECT_EQ(threadState().part<MailValues>().fromEmail, "build@example.com");
      }

      s.handler.ChangeEmailSettings();
      EXPECT_EQ(key("EmailType"), "2");
      EXPECT_EQ(key("EmailFlag"), "True");
    });
    EXPECT_GT(faulted, 0);
  }
}

}  // namespace
}  // namespace quenvar::faults
