// The collector end to end over fakes: what a handled error becomes, and what the process-wide
// settings, consent and the worker do with it.

#include "quenvar/collector.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "collector/hub.h"
#include "collector/outbox.h"
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
    settings.TrackSessions(false);  // the events' tests count events alone; sessions have theirs
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

  // Flush returns with the worker between passes, not in the middle of one: a process that
  // exits right after it must not end the worker inside a file call.
  struct Listing {
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> armed{true}, inside{false};
  };
  const auto worker = std::make_shared<Listing>();
  services.outbox.listing = [worker] {
    if (std::this_thread::get_id() == worker->caller || !worker->armed.exchange(false)) return;
    worker->inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    worker->inside = false;
  };
  handler.Push("P");
  handler.HandleError("second", 7, 0);
  for (int i = 0; i < 200 && !worker->inside; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(worker->inside) << "the worker never listed";
  EXPECT_EQ(settings.Flush(5000), 0);
  EXPECT_FALSE(worker->inside) << "the worker was still in its pass";
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
      settings.Flush(1000);
      EXPECT_TRUE(services.http.sent().empty()) << "nothing leaves before the dump";
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

// Each run as one session: the updates it queued, in the order queued.
struct SessionTest : CollectorTest {
  SessionTest() { settings.TrackSessions(true); }

  static bool isSession(const std::string& envelope) {
    const size_t first = envelope.find('\n') + 1;
    return json::parse(envelope.substr(first, envelope.find('\n', first) - first))["type"] == "session";
  }
  std::vector<json> updates() {
    std::vector<json> out;
    for (const std::string& envelope : services.outbox.waiting())
      if (isSession(envelope)) out.push_back(unpack(envelope).first);
    std::stable_sort(out.begin(), out.end(), [](const json& a, const json& b) {
      return a["timestamp"].get<std::string>() < b["timestamp"].get<std::string>() ||
             (a["timestamp"] == b["timestamp"] && a["init"].get<bool>() && !b["init"].get<bool>());
    });
    return out;
  }
  size_t events() {
    size_t count = 0;
    for (const std::string& envelope : services.outbox.waiting()) count += isSession(envelope) ? 0 : 1;
    return count;
  }
  // The states of running sessions, by key.
  std::map<std::string, std::string> states() {
    std::map<std::string, std::string> out;
    for (const auto& [key, value] : services.outbox.states)
      if (key.find("/session-") != std::string::npos) out[key.substr(key.find("/session-") + 1)] = value;
    return out;
  }
  // A run's updates: the one that begins it and the one that ends it, the same one when the first
  // still waited at the end.
  static std::pair<json, json> startAndEnd(const std::vector<json>& told) {
    std::vector<json> starts, ends;
    for (const json& update : told) {
      if (update["init"] == true) starts.push_back(update);
      if (update["status"] != "ok") ends.push_back(update);
    }
    EXPECT_EQ(starts.size(), 1u) << json(told);
    EXPECT_EQ(ends.size(), 1u) << json(told);
    if (starts.size() != 1 || ends.size() != 1) return {};
    EXPECT_EQ(told.size(), starts[0] == ends[0] ? 1u : 2u);
    if (starts[0] != ends[0]) {
      EXPECT_EQ(starts[0]["status"], "ok");
      EXPECT_EQ(starts[0]["errors"], 0);
      EXPECT_EQ(ends[0]["init"], false);
    }
    return {starts[0], ends[0]};
  }
  void fail(const char* description) {
    handler.Push("P");
    handler.HandleError(description, 7, 0);
  }
};

// Begun when the collector comes into effect, told once at the start (once its release is
// known) and once at exit with the run's handled errors.
TEST_F(SessionTest, ARunIsOneSessionEndedAtExitWithItsErrors) {
  struct Case {
    const char* name;
    std::string release;  // the Release setting; empty: the application's
    bool appObject, sendUserName;
    int errors;
    std::string expectRelease;  // empty: nothing told
    bool fullOfEvents = false;  // at the start: the first update waits for room, made by a Flush
  };
  const Case cases[] = {
      {"release set, no errors", "Orders@9", false, false, 0, "Orders@9"},
      {"release of the application object, learnt after the start", "", true, false, 2, "Orders@2.0.15"},
      {"the user's name as did only when asked", "Orders@9", false, true, 1, "Orders@9"},
      {"no release ever known: the collector would drop it", "", false, false, 1, ""},
      {"an outbox full of events: begun with the end", "Orders@9", false, false, 0, "Orders@9", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    services.outbox.reports.clear();
    services.outbox.states.clear();
    services.os.user = "alice";
    collector::Hub run{services.platform};
    Collector each{services.platform};
    each.Release(c.release);
    each.SendUserName(c.sendUserName);
    each.Environment("staging");
    if (c.fullOfEvents) {
      collector::Outbox full{services.outbox, collector::outboxName(collector::parseDsn(kDsn)->project()),
                             [] { return 1'800'000'000.0; }, [] { return 0.5; }};
      for (int i = 0; i < 100; ++i) full.add(std::to_string(i), collector::envelope({}, "1"));
    }
    each.Dsn(kDsn);
    ASSERT_EQ(states().size(), 1u) << "its state from the start";
    if (c.fullOfEvents) {
      EXPECT_TRUE(updates().empty()) << "not in the place of an event";
      services.http.answer = [](const fake::HttpService::Sent&) { return HttpAnswer{200, "", "", ""}; };
      EXPECT_EQ(each.Flush(5000), 0);
    }
    clsErrHandler h{services.platform};
    h.Destination("/logs");
    if (c.appObject) h.AppObject(application());
    for (int i = 0; i < c.errors; ++i) {
      h.Push("P");
      h.HandleError("counted", 7, 0);
      ASSERT_EQ(states().size(), 1u);
      EXPECT_NE(states().begin()->second.find("\"errors\":" + std::to_string(i + 1)), std::string::npos)
          << "kept for an abnormal end";
    }
    run.stopAtExit();
    EXPECT_TRUE(states().empty()) << "removed at the end";
    const std::vector<json> told = updates();
    if (c.expectRelease.empty()) {
      EXPECT_TRUE(told.empty());
      continue;
    }
    const auto [start, end] = startAndEnd(told);
    ASSERT_FALSE(start.is_null());
    EXPECT_EQ(end["status"], "exited");
    EXPECT_EQ(end["errors"], c.errors);
    EXPECT_EQ(start["sid"], end["sid"]);
    EXPECT_EQ(start["sid"].get<std::string>().size(), 36u);
    EXPECT_EQ(start["sid"].get<std::string>()[14], '4') << "a version 4 UUID";
    EXPECT_EQ(end["started"], start["started"]);
    EXPECT_GE(end["duration"].get<double>(), 0);
    for (const json& update : told) {
      EXPECT_EQ(update["attrs"], json({{"release", c.expectRelease}, {"environment", "staging"}}));
      EXPECT_EQ(update.contains("did"), c.sendUserName);
      if (c.sendUserName) {
        EXPECT_EQ(update["did"], "alice");
      }
    }
    EXPECT_EQ(events(), static_cast<size_t>(c.errors));
  }
}

// A caught crash ends the run's session with it, durably and counted as an error; nothing is
// told again when the crashed process unloads.
TEST_F(SessionTest, ACaughtCrashEndsTheSessionCrashed) {
  for (const int handled : {0, 3}) {
    SCOPED_TRACE(handled);
    services.outbox.reports.clear();
    collector::Hub run{services.platform};
    Collector each{services.platform};
    each.Release("Orders@9");
    each.Dsn(kDsn);
    each.CatchCrashes(true);
    for (int i = 0; i < handled; ++i) fail("handled");
    std::thread capture([&] { services.crash.onCrash(CrashFacts{}, ""); });
    capture.join();
    EXPECT_TRUE(services.outbox.unsynced.empty()) << "durable before the process ends";
    EXPECT_TRUE(states().empty());
    run.stopAtExit();
    const auto [start, end] = startAndEnd(updates());
    EXPECT_EQ(end["status"], "crashed");
    EXPECT_EQ(end["errors"], handled + 1);
    EXPECT_EQ(end["sid"], start["sid"]);
    EXPECT_EQ(events(), static_cast<size_t>(handled) + 1) << "the crash's own event beside it";
    each.CatchCrashes(false);
  }
}

// A run that vanished leaves its state; the next run of any program of the user and project
// tells it as abnormal with the errors it had counted, once. A live run's, or another
// machine's, is left alone; so is a reused pid told from its start time.
TEST_F(SessionTest, AVanishedRunIsToldAbnormalByTheNextRun) {
  struct Case {
    const char* name;
    ProcessMark next;  // the next run's process
    bool firstStillRuns, otherHost, torn;
    bool told;
  };
  const Case cases[] = {
      {"gone", {5000, 77}, false, false, false, true},
      {"its pid given again to the next run", {4242, 2000}, false, false, false, true},
      {"still running", {5000, 77}, true, false, false, false},
      {"another machine's", {5000, 77}, false, true, false, false},
      {"half written when the power went", {5000, 77}, false, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    services.outbox.reports.clear();
    services.outbox.states.clear();
    services.os.self = {4242, 1000};
    services.os.alive.clear();
    services.network.server.thisHost = "desk-1";
    std::string sid;
    {
      collector::Hub first{services.platform};
      Collector(services.platform).Release("Orders@9");
      Collector(services.platform).Dsn(kDsn);
      fail("one");
      fail("two");
      sid = updates().at(0)["sid"];
    }  // no exit: killed
    ASSERT_EQ(states().size(), 1u);
    for (auto& [key, state] : services.outbox.states)
      if (c.torn && key.find("/session-") != std::string::npos) state.resize(20);
    if (c.firstStillRuns) services.os.alive.emplace_back(4242, 1000);
    if (c.otherHost) services.network.server.thisHost = "desk-2";
    services.os.self = c.next;
    services.outbox.reports.clear();
    collector::Hub next{services.platform};
    Collector(services.platform).Release("Orders@10");
    Collector(services.platform).Dsn(kDsn);
    std::vector<json> told = updates();
    std::erase_if(told, [&](const json& u) { return u["sid"] != sid; });
    if (!c.told) {
      EXPECT_TRUE(told.empty());
      EXPECT_EQ(states().size(), c.torn ? 1u : 2u) << "the unknown left, a torn one's process gone removed";
      continue;
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0]["status"], "abnormal");
    EXPECT_EQ(told[0]["errors"], 2);
    EXPECT_EQ(told[0]["init"], false);
    EXPECT_EQ(told[0]["attrs"]["release"], "Orders@9") << "its own run's release";
    EXPECT_EQ(states().size(), 1u) << "the next run's own alone";
    collector::Hub third{services.platform};
    services.outbox.reports.clear();
    services.os.self = {6000, 1};
    Collector(services.platform).Dsn(kDsn);
    for (const json& u : updates()) EXPECT_NE(u["sid"], sid) << "told once";
  }
}

// Off, or refused: no session, no state; required and not given: the updates wait with the reports.
TEST_F(SessionTest, NoSessionWhenTurnedOffOrRefused) {
  struct Case {
    const char* name;
    std::function<void(Collector&)> before, after;  // around setting the DSN
    size_t updates, states;
  };
  const Case cases[] = {
      {"turned off before", [](Collector& c) { c.TrackSessions(false); }, [](Collector&) {}, 0, 0},
      {"turned off while running", [](Collector&) {}, [](Collector& c) { c.TrackSessions(false); }, 1, 0},
      {"consent refused in an earlier run",
       [&](Collector&) {
         services.settings.save("Quenvar", "Collector Consent", "https://collector.example.com:8443/sentry/42", "2");
       },
       [](Collector&) {}, 0, 0},
      // Nothing sent meanwhile: the first update, still waiting, is replaced by one that ends too.
      {"consent required", [](Collector& c) { c.ConsentRequired(true); }, [](Collector&) {}, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    services.outbox.reports.clear();
    services.outbox.states.clear();
    services.settings.remove("Quenvar", "Collector Consent", "https://collector.example.com:8443/sentry/42");
    collector::Hub run{services.platform};
    Collector each{services.platform};
    const size_t sent = services.http.sent().size();
    each.Release("Orders@9");
    c.before(each);
    each.Dsn(kDsn);
    c.after(each);
    fail("after");
    run.stopAtExit();
    EXPECT_EQ(updates().size(), c.updates);
    EXPECT_EQ(states().size(), c.states);
    if (each.ConsentRequired()) {
      EXPECT_EQ(each.Flush(100), 2) << "waiting for consent like the event";
      EXPECT_EQ(services.http.sent().size(), sent);
      EXPECT_EQ(updates().at(0)["init"], true);
      EXPECT_EQ(updates().at(0)["status"], "exited");
    }
  }
}

// Two processes of one project at once: each its own session and state, counts kept apart,
// neither's end touching the other's.
TEST_F(SessionTest, TwoRunsAtOnceAreKeptApart) {
  collector::Hub a{services.platform};
  a.release("Orders@9");
  a.dsn(kDsn);
  services.os.alive.emplace_back(4242, 1000);
  services.os.self = {5151, 3000};
  collector::Hub b{services.platform};
  b.release("Orders@9");
  b.dsn(kDsn);
  ASSERT_EQ(states().size(), 2u);
  for (int i = 0; i < 3; ++i) a.queue(collector::EventInput{});
  b.queue(collector::EventInput{});
  a.stopAtExit();
  ASSERT_EQ(states().size(), 1u) << "b's still there";
  EXPECT_NE(states().begin()->first.find("-5151-3000-"), std::string::npos);
  b.stopAtExit();
  std::map<std::string, std::vector<json>> bySid;
  for (const json& u : updates()) bySid[u["sid"]].push_back(u);
  ASSERT_EQ(bySid.size(), 2u);
  std::multiset<int64_t> ended;
  for (const auto& [sid, told] : bySid) {
    const json end = startAndEnd(told).second;
    EXPECT_EQ(end["status"], "exited");
    ended.insert(end["errors"].get<int64_t>());
  }
  EXPECT_EQ(ended, (std::multiset<int64_t>{1, 3}));
}

// The session rate limit holds session updates back and lets events go; the events' holds
// events and lets sessions go; a 429 naming no category holds both.
TEST_F(SessionTest, TheSessionRateLimitHoldsOnlySessions) {
  struct Case {
    const char* name;
    HttpAnswer limited;
    bool sessionsGo, eventsGo;
  };
  const Case cases[] = {
      {"sessions limited", {200, "", "600:session", ""}, false, true},
      {"events limited", {200, "", "600:error", ""}, true, false},
      {"a 429 of no category", {429, "600", "", ""}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    services.outbox.reports.clear();
    services.outbox.states.clear();
    collector::Hub run{services.platform};
    Collector each{services.platform};
    services.http.answer = [&](const fake::HttpService::Sent&) { return c.limited; };
    each.Release("Orders@9");
    each.Dsn(kDsn);
    EXPECT_EQ(each.Flush(2000), c.limited.status == 200 ? 0 : 1) << "the limit comes with the first update";
    const size_t before = services.http.sent().size();
    services.http.answer = [](const fake::HttpService::Sent&) { return HttpAnswer{200, "", "", ""}; };
    fail("after the limit");
    collector::Hub other{services.platform};  // another run, whose start is told
    other.release("Orders@9");
    other.dsn(kDsn);
    const size_t sessionsExpected = c.sessionsGo ? 1 : 0, eventsExpected = c.eventsGo ? 1 : 0;
    const size_t waitingExpected = (c.sessionsGo ? 0u : 1u) + (c.limited.status == 429 ? 1u : 0u);
    size_t sessionsSent = 0, eventsSent = 0;
    // A send is seen before its sender removes the report: the waiting count settles after it.
    for (int wait = 0; wait < 200 && (sessionsSent != sessionsExpected || eventsSent != eventsExpected ||
                                      updates().size() != waitingExpected);
         ++wait) {
      each.Flush(10);
      const auto sent = services.http.sent();
      sessionsSent = eventsSent = 0;
      for (size_t i = before; i < sent.size(); ++i) (isSession(sent[i].body) ? sessionsSent : eventsSent) += 1;
    }
    EXPECT_EQ(sessionsSent, sessionsExpected);
    EXPECT_EQ(eventsSent, eventsExpected);
    EXPECT_EQ(updates().size(), waitingExpected) << "those held wait";
  }
}

}  // namespace
}  // namespace quenvar
