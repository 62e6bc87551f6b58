// The collector end to end over fakes: what a handled error becomes, and what the process-wide
// settings, consent and the worker do with it.

#include "quenvar/collector.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstring>
#include <thread>

#include "collector/hub.h"
#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;
using nlohmann::json;

constexpr const char* kDsn = "https://key1@collector.example.com:8443/sentry/42";

// The event item of a stored envelope, and its report (empty when it has none).
std::pair<json, std::string> unpack(const std::string& envelope) {
  size_t at = envelope.find('\n') + 1;
  std::vector<std::string> payloads;
  while (at < envelope.size()) {
    const size_t end = envelope.find('\n', at);
    const size_t length = json::parse(envelope.substr(at, end - at))["length"].get<size_t>();
    payloads.push_back(envelope.substr(end + 1, length));
    at = end + 2 + length;
  }
  return {json::parse(payloads.at(0)), payloads.size() > 1 ? payloads[1] : ""};
}

struct CollectorTest : HandlerFixture {
  collector::Hub hub{services.platform};  // this test's process-wide state
  Collector settings{services.platform};

  CollectorTest() {
    handler.Destination("/logs");
    services.http.answer = [](const fake::HttpService::Sent&) { return HttpAnswer{503, "", "", ""}; };
  }
  // Waits for the worker to have posted `count` requests.
  bool posted(size_t count) {
    for (int i = 0; i < 500 && services.http.sent().size() < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return services.http.sent().size() >= count;
  }
};

// On a thread of its own: the stack's parameter table is the thread's, and others left theirs.
TEST_F(CollectorTest, AHandledErrorBecomesOneEventWithItsStackAndFacts) {
  onFreshThread([&] {
    clsErrHandler h{services.platform};
    h.Destination("/logs");
    Connection db("Provider=SQLOLEDB;PWD=hunter2");
    db.properties->push_back(property("Data Source", "orders-db"));
    db.properties->push_back(property("Password", "hunter2"));
    db.properties->push_back(property("Extended Properties", "DSN=x;PWD=hunter2"));
    db.cn->set("Provider", "SQLOLEDB");
    h.AppObject(application());
    h.Cn(db.cn);
    settings.Dsn(kDsn);
    h.Push("Main");
    h.AddParam("Mode", "String", Variant("batch"));
    h.Push("PostInvoice");
    h.AddParam("InvoiceId", "Long", Variant(int32_t{1042}));
    h.AddParam("Password", "String", Variant("hunter2"));
    h.AddParam("Conn", "String", Variant("DSN=x;PWD=hunter2"));
    h.AddParam("Folder", "String", Variant("/home/alice/orders;/home/alicia"));
    h.CurrentOperation("Connecting with PWD=hunter2");
    services.files.cwd = "/home/alice/orders";

    EXPECT_EQ(h.HandleError("Could not post: DSN=x;PWD=hunter2", 1042, 30, "Retry with Password=hunter2"), 0);
    const auto waiting = services.outbox.waiting();
    ASSERT_EQ(waiting.size(), 1u);
    const auto [event, report] = unpack(waiting[0]);
    EXPECT_EQ(event["event_id"], settings.LastEventId());
    EXPECT_EQ(settings.LastEventId().size(), 32u);
    const json& exception = event["exception"]["values"][0];
    EXPECT_EQ(exception["type"], "Error 1042");
    EXPECT_EQ(exception["value"], "Could not post: DSN=x;PWD=********");
    const json& frames = exception["stacktrace"]["frames"];
    ASSERT_EQ(frames.size(), 2u) << frames;
    EXPECT_EQ(frames[0]["function"], "Main");
    EXPECT_EQ(frames[0]["vars"], json::parse(R"({"Mode":"batch"})"));
    EXPECT_FALSE(frames[0].contains("lineno"));
    EXPECT_EQ(frames[1]["function"], "PostInvoice");
    EXPECT_EQ(frames[1]["lineno"], 30);
    EXPECT_EQ(frames[1]["vars"], json::parse(R"({"InvoiceId":"1042","Password":"********","Conn":"DSN=x;PWD=********",
                                                 "Folder":"~/orders;/home/alicia"})"))
        << "the home folder without the login name, another's as it is";
    EXPECT_EQ(event["release"], "Orders@2.0.15");
    EXPECT_EQ(event["environment"], "production");
    EXPECT_EQ(event["tags"], json::parse(R"({"error_number":"1042","procedure":"PostInvoice"})"));
    EXPECT_EQ(event["contexts"]["app"]["app_version"], "2.0.15");
    EXPECT_EQ(event["contexts"]["database"]["provider"], "SQLOLEDB");
    EXPECT_EQ(event["contexts"]["database"]["Password"], "********");
    EXPECT_EQ(event["contexts"]["database"]["Extended Properties"], "DSN=x;PWD=********");
    EXPECT_FALSE(event["contexts"]["database"].contains("type"));
    EXPECT_FALSE(event.contains("user")) << "names only when asked for";
    EXPECT_FALSE(event.contains("breadcrumbs")) << "untraced";
    EXPECT_EQ(waiting[0].find("hunter2"), std::string::npos) << "no password anywhere";
    EXPECT_EQ(services.files.files["/logs/Error.log"].find("hunter2"), std::string::npos) << "nor in the log";
    EXPECT_NE(report.find("Current Directory:\t~/orders\r\n"), std::string::npos);
    EXPECT_EQ(waiting[0].find("/home/alice/"), std::string::npos);
    EXPECT_EQ(report.substr(0, report.find("\r\n")), "Orders Application Error Information");
    EXPECT_NE(report.find("System Information"), std::string::npos);

    // Vetoed: nothing queued, the last id kept.
    struct Veto : HandlerEvents {
      void BeforeHandlerCalled(bool& Cancel) override { Cancel = true; }
      void AfterHandlerCalled() override {}
    };
    const std::string last = settings.LastEventId();
    const uint32_t cookie = h.advise(std::make_shared<Veto>());
    h.Push("Again");
    h.HandleError("vetoed", 5, 0);
    h.unadvise(cookie);
    EXPECT_EQ(services.outbox.waiting().size(), 1u);
    EXPECT_EQ(settings.LastEventId(), last);

    settings.SendUserName(true);
    h.Push("Named");
    h.HandleError("with names", 5, 0);
    const auto both = services.outbox.waiting();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_TRUE(std::any_of(both.begin(), both.end(), [](const std::string& e) {
      return unpack(e).second.find("Current Directory:\t/home/alice/orders") != std::string::npos;
    })) << "asked for: as it is";
  });
}

// Traced entries become the trail the collector shows, latest last, as many as it keeps; turning
// tracing on again starts Trace.log and the trail anew.
TEST_F(CollectorTest, TracedEntriesAreTheBreadcrumbs) {
  settings.Dsn(kDsn);
  handler.TraceExecution(true);
  handler.Push("Old");
  handler.TraceExecution(true);
  const std::string longName(3000, 'x');
  for (int i = 0; i < 150; ++i) handler.Push(i == 149 ? longName : "P" + std::to_string(i));
  handler.Pop();
  handler.HandleError("traced", 7, 0);
  ASSERT_EQ(services.outbox.waiting().size(), 1u);
  const json crumbs = unpack(services.outbox.waiting()[0]).first["breadcrumbs"]["values"];
  ASSERT_EQ(crumbs.size(), collector::kMostBreadcrumbs);
  EXPECT_EQ(crumbs[0]["message"], "P50");
  EXPECT_EQ(crumbs[98]["message"], "P148");
  EXPECT_EQ(crumbs[99]["message"], longName.substr(0, collector::kMostNameBytes)) << "a Pop is no entry";
  EXPECT_EQ(crumbs[0]["category"], "procedure");
  EXPECT_LE(crumbs[0]["timestamp"].get<double>(), crumbs[99]["timestamp"].get<double>());
  EXPECT_GT(crumbs[0]["timestamp"].get<double>(), 1.7e9);
}

// The worker posts what waits with the collector's headers; a failure keeps it for Flush,
// which sends at once; without a DSN nothing is queued or sent.
TEST_F(CollectorTest, TheWorkerSendsAndFlushRetriesAtOnce) {
  // Without a collector nothing more of the client's objects is read than the report reads.
  auto app = application();
  int majorReads = 0;
  app->on("Major", [&](std::span<const Variant>) { return ++majorReads, Variant(int16_t{2}); });
  handler.AppObject(app);  // which reads the mail subject
  majorReads = 0;
  const std::string before = settings.LastEventId();
  handler.Push("P");
  handler.HandleError("no DSN yet", 7, 0);
  EXPECT_TRUE(services.outbox.waiting().empty());
  EXPECT_EQ(settings.LastEventId(), before);
  EXPECT_EQ(majorReads, 2) << "the error section's and the application section's lines";
  EXPECT_EQ(settings.Flush(100), 0);

  settings.Dsn(kDsn);
  settings.Environment("staging");
  handler.Push("P");
  handler.HandleError("first", 7, 0);
  ASSERT_TRUE(posted(1));
  const auto sent = services.http.sent()[0];
  EXPECT_EQ(sent.url, "https://collector.example.com:8443/sentry/api/42/envelope/");
  EXPECT_EQ(sent.headers[0], (std::pair<std::string, std::string>{"Content-Type", "application/x-sentry-envelope"}));
  EXPECT_EQ(sent.headers[1].second.rfind("Sentry sentry_version=7, sentry_client=quenvar/", 0), 0u);
  EXPECT_NE(sent.body.substr(0, sent.body.find('\n')).find("sent_at"), std::string::npos);
  EXPECT_EQ(unpack(sent.body).first["environment"], "staging");
  for (int i = 0; i < 100 && settings.LastError().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(settings.LastError(), "HTTP 503");
  EXPECT_EQ(settings.Pending(), 1);

  services.http.answer = [](const fake::HttpService::Sent&) { return HttpAnswer{200, "", "", ""}; };
  EXPECT_EQ(settings.Flush(2000), 0) << "an explicit flush does not wait out the backoff";
  EXPECT_EQ(settings.LastError(), "");
  EXPECT_EQ(services.http.sent().size(), 2u);
}

TEST_F(CollectorTest, SettingsConsentAndTheirRefusals) {
  EXPECT_EQ(testing::errorNumber([&] { settings.Dsn("not a dsn"); }), 380);
  EXPECT_EQ(settings.Dsn(), "");
  EXPECT_EQ(settings.Consent(), 0);
  EXPECT_EQ(testing::errorNumber([&] { settings.Consent(1); }), 5) << "no collector, no consent";
  settings.Dsn(kDsn);
  EXPECT_EQ(Collector(services.platform).Dsn(), kDsn) << "shared by every object of the process";
  EXPECT_EQ(testing::errorNumber([&] { settings.Consent(3); }), 380);

  settings.ConsentRequired(true);
  handler.Push("P");
  handler.HandleError("waits for consent", 7, 0);
  EXPECT_EQ(settings.Flush(200), 1) << "kept, not sent";
  settings.ConsentRequired(false);  // as the next run, or another program, that never asks
  EXPECT_EQ(settings.Flush(200), 1) << "queued while consent was required: it waits for it still";
  EXPECT_TRUE(services.http.sent().empty());
  services.http.answer = [](const fake::HttpService::Sent&) { return HttpAnswer{200, "", "", ""}; };
  settings.Consent(1);
  EXPECT_EQ(settings.Consent(), 1);
  ASSERT_TRUE(posted(1)) << "given: sent";

  services.http.answer = [](const fake::HttpService::Sent&) { return HttpAnswer{400, "", "", ""}; };
  handler.Push("P");
  handler.HandleError("set aside", 7, 0);
  ASSERT_TRUE(posted(2));
  EXPECT_EQ(settings.Flush(1000), 0);
  EXPECT_EQ(services.outbox.rejected.size(), 1u);
  settings.Consent(2);
  EXPECT_TRUE(services.outbox.rejected.empty()) << "refused: what was set aside goes too";
  handler.Push("P");
  handler.HandleError("refused", 7, 0);
  EXPECT_EQ(settings.Pending(), 0) << "refused: nothing kept";
  EXPECT_EQ(services.http.sent().size(), 2u);
  EXPECT_EQ(services.settings.get("Quenvar", "Collector Consent", "https://collector.example.com:8443/sentry/42"), "2")
      << "per user and collector project";
}

// The capture's thread reads the crashing thread's stack alone, with no client object, and leaves
// one durable fatal report that the next run sees; refused consent leaves none.
TEST_F(CollectorTest, ACrashLeavesOneFatalReportThatTheNextRunSees) {
  EXPECT_EQ(testing::errorNumber([&] { settings.CatchCrashes(true); }), 5) << "no collector, no capture";
  settings.Dsn(kDsn);
  EXPECT_FALSE(settings.CrashedLastRun());
  clsErrHandler h{services.platform};
  h.AppObject(application());
  settings.CatchCrashes(true);
  EXPECT_TRUE(settings.CatchCrashes());
  h.Push("Main");
  h.AddParam("Password", "String", Variant("hunter2"));
  h.AddParam("Form", "Object", Variant(ObjectRef(object())));
  h.Push("Post");
  const auto crash = [&](uint64_t thread) {
    CrashFacts facts;
    std::strcpy(facts.type, "SIGSEGV");
    std::strcpy(facts.mechanism, "signalhandler");
    facts.signal = 11;
    facts.thread = thread;
    std::thread capture([&] { services.crash.onCrash(facts, ""); });
    capture.join();
  };
  const uint64_t crashing = services.crash.threadId();
  onFreshThread([&] {  // another thread's deeper stack is not the crashing thread's
    clsErrHandler other{services.platform};
    for (const char* name : {"A", "B", "C", "D"}) other.Push(name);
    crash(crashing);
  });
  ASSERT_EQ(services.outbox.waiting().size(), 1u);
  EXPECT_TRUE(services.outbox.unsynced.empty()) << "durable before the process ends";
  const std::string stored = services.outbox.waiting()[0];
  const auto [event, report] = unpack(stored);
  EXPECT_EQ(report, "") << "no report.txt: the sections are the client's objects'";
  EXPECT_EQ(event["level"], "fatal");
  EXPECT_EQ(event["release"], "Orders@2.0.15") << "read when the application object came";
  const json& exception = event["exception"]["values"][0];
  EXPECT_EQ(exception["mechanism"]["handled"], false);
  EXPECT_EQ(exception["mechanism"]["meta"]["signal"]["number"], 11);
  const json& frames = exception["stacktrace"]["frames"];
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0]["vars"], json({{"Password", "********"}, {"Form", "(object)"}}));
  EXPECT_EQ(frames[1]["function"], "Post");
  EXPECT_TRUE(event["contexts"].contains("os") && event["contexts"].contains("app"));
  EXPECT_EQ(stored.find("hunter2"), std::string::npos);
  EXPECT_TRUE(services.http.sent().empty()) << "sent by the next run, not the dying one";
  EXPECT_TRUE(settings.CrashedLastRun());
  settings.ClearCrashedLastRun();
  EXPECT_FALSE(settings.CrashedLastRun());
  // The report is kept first; its dump, coming after, replaces it by one with the dump while the
  // outbox can take it, and a larger one leaves it as it was.
  for (const size_t dump : {size_t{4096}, size_t{5} << 20}) {
    services.outbox.reports.clear();
    CrashFacts facts;
    std::strcpy(facts.type, "EXCEPTION_ACCESS_VIOLATION");
    facts.thread = dump;
    std::thread capture([&] {
      services.crash.onCrash(facts, "");
      EXPECT_EQ(services.outbox.waiting().size(), 1u) << "kept before the dump is made";
      services.crash.onCrash(facts, std::string(dump, 'M'));
    });
    capture.join();
    ASSERT_EQ(services.outbox.waiting().size(), 1u) << "one report, the same";
    EXPECT_EQ(services.outbox.waiting()[0].find("event.minidump") != std::string::npos, dump == 4096) << dump;
  }

  crash(crashing);
  hub.stopAtExit();
  EXPECT_TRUE(settings.CrashedLastRun()) << "the crashed run's own unloading leaves it";
  const auto crashedState = [&] {
    for (const auto& [key, value] : services.outbox.states)
      if (key.ends_with("/crashed")) return value;
    return std::string();
  };

  services.outbox.reports.clear();
  settings.Consent(2);
  crash(crashing);
  EXPECT_TRUE(services.outbox.waiting().empty()) << "refused: no crash report either";
  settings.CatchCrashes(false);
  EXPECT_FALSE(settings.CatchCrashes());
  {
    collector::Hub next{services.platform};  // the next run, with capture, ending well
    Collector(services.platform).Dsn(kDsn);
    Collector(services.platform).Consent(1);
    Collector(services.platform).CatchCrashes(true);
    next.stopAtExit();
  }
  EXPECT_EQ(crashedState(), "0") << "a run that ends well after it";
}

}  // namespace
}  // namespace quenvar
