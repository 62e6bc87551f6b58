#include "collector/outbox.h"

#include <gtest/gtest.h>


#include "collector/event.h"
#include "fakes/fake_platform.h"
#include "../error_number.h"

namespace quenvar::collector {
namespace {

struct Queue {
  fake::OutboxStore store;
  double now = 1'800'000'000;
  double random = 0.5;
  Outbox outbox{store, "p", [this] { return now; }, [this] { return random; }, Caps{3, 2000, 30}};

  std::string add(const std::string& id) {
    EventInput in;
    in.eventId = id;
    outbox.add(id, envelope(in, "1"));
    now += 1;
    return id;
  }
  // Drains with the collector answering `answers` in turn; what it was sent, by event id.
  std::vector<std::string> drain(std::vector<Answer> answers, bool explicitFlush = false,
                                 Outbox::Result* result = nullptr) {
    std::vector<std::string> seen;
    size_t next = 0;
    const auto r = outbox.drain(
        [&](std::string_view env) {
          seen.push_back(std::string(env.substr(env.find("event_id") + 11, 1)));
          EXPECT_NE(env.substr(0, env.find('\n')).find("sent_at"), std::string_view::npos);
          return next < answers.size() ? answers[next++] : Answer{200, "", "", ""};
        },
        explicitFlush);
    if (result) *result = r;
    return seen;
  }
};

using Seen = std::vector<std::string>;

// Each answer and what it does to the report and to the queue behind it.
TEST(CollectorOutbox, EachAnswerDecidesTheReportsFate) {
  struct Case {
    const char* what;
    Answer answer;
    Seen sent;             // the first drain
    size_t left, rejected;
    std::string lastError;
  };
  const Case cases[] = {
      {"taken", {200, "", "", ""}, {"a", "b"}, 0, 0, ""},
      {"no answer", {0, "", "", "connection refused"}, {"a"}, 2, 0, "connection refused"},
      {"server error", {503, "", "", ""}, {"a"}, 2, 0, "HTTP 503"},
      {"request timeout", {408, "", "", ""}, {"a"}, 2, 0, "HTTP 408"},
      {"too large", {413, "", "", ""}, {"a", "b"}, 0, 1, ""},
      {"refused", {400, "", "", ""}, {"a", "b"}, 0, 1, ""},
      {"rate limited", {429, "30", "", ""}, {"a"}, 2, 0, "HTTP 429: retry after 30 s"},
      {"rate limited by category", {429, "", "90:error;transaction:organization", ""}, {"a"}, 2, 0,
       "HTTP 429: retry after 90 s"},
      {"taken, limits ahead", {200, "", "45:default:key", ""}, {"a"}, 1, 0, "HTTP 429: retry after 45 s"},
      {"taken, limit on others", {200, "", "45:transaction:key", ""}, {"a", "b"}, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Queue q;
    q.add("a"), q.add("b");
    Outbox::Result result;
    EXPECT_EQ(q.drain({c.answer}, false, &result), c.sent);
    EXPECT_EQ(q.outbox.pending(), c.left);
    EXPECT_EQ(q.store.rejected.size(), c.rejected);
    EXPECT_EQ(result.lastError, c.lastError);
    if (c.rejected) {
      EXPECT_EQ(q.store.rejected.begin()->second, "HTTP " + std::to_string(c.answer.status));
    }
  }
}

// After failures the queue waits longer each time, jittered; an explicit flush need not wait,
// but nothing is sent while the collector's rate limit holds, whoever asks.
TEST(CollectorOutbox, BackoffGrowsAndLimitsHold) {
  Queue q;
  q.add("a");
  const double start = q.now;
  for (double expected : {5.0, 10.0, 20.0, 40.0}) {
    q.drain({{503, "", "", ""}}, true);
    EXPECT_DOUBLE_EQ(q.outbox.backoffEnd() - start, expected) << "random 0.5: no jitter";
    EXPECT_EQ(q.drain({}), Seen{}) << "within the backoff";
  }
  q.random = 0;
  q.drain({{503, "", "", ""}}, true);
  EXPECT_DOUBLE_EQ(q.outbox.backoffEnd() - start, 40.0) << "half of 80 at the least jitter";
  EXPECT_EQ(q.drain({}, true), Seen{"a"}) << "an explicit flush goes at once";
  q.add("b");
  EXPECT_EQ(q.drain({}), Seen{"b"}) << "a success ended the backoff";

  q.add("c");
  q.drain({{429, "120", "", ""}}, true);
  EXPECT_EQ(q.drain({}, true), Seen{});
  q.now += 121;
  EXPECT_EQ(q.drain({}, true), Seen{"c"});
}

// What another sender holds, cannot be read or is no envelope does not stop the queue; the
// caps drop the oldest first, never one being sent.
TEST(CollectorOutbox, TheQueueGoesOnAndStaysWithinItsCaps) {
  Queue q;
  q.add("a"), q.add("b"), q.add("c");
  const auto names = [&] {
    std::vector<std::string> out;
    for (const auto& [name, _] : q.store.reports) out.push_back(name.substr(19));
    return out;
  };
  q.store.heldElsewhere.insert(q.store.reports.begin()->first);
  q.store.unreadable.insert(std::next(q.store.reports.begin())->first);
  std::prev(q.store.reports.end())->second = "garbage";
  EXPECT_EQ(q.drain({}), Seen{});
  EXPECT_EQ(names(), (std::vector<std::string>{"a"})) << "held elsewhere: left to its sender";
  EXPECT_EQ(q.store.rejected.size(), 2u);

  q.add("d"), q.add("e");
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "d", "e"}));
  EXPECT_EQ(q.outbox.add("f", "x"), 1u) << "one dropped for the count";
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "e", "f"})) << "the oldest not held went";
  EXPECT_EQ(q.outbox.add("g", std::string(1700, 'x')), 2u) << "for the bytes";
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "g"}));
  q.now += 31 * 86400;
  q.store.heldElsewhere.clear();
  EXPECT_EQ(q.outbox.add("h", "x"), 2u) << "past their days";
  EXPECT_EQ(names(), (std::vector<std::string>{"h"}));

  std::string stored;
  q.outbox.add(sessionReportId("s"), "x"), q.add("i");
  EXPECT_EQ(q.outbox.add("j", "x"), 1u);
  EXPECT_EQ(names(), (std::vector<std::string>{"h", "i", "j"})) << "a session update goes before an older event";
  EXPECT_EQ(q.outbox.add(sessionReportId("t"), "x", &stored), 1u);
  EXPECT_EQ(names(), (std::vector<std::string>{"h", "i", "j"})) << "nor pushes one out itself";
  EXPECT_EQ(stored, "");
}

// While the collector takes no attachments, events go without their report; later ones with it.
TEST(CollectorOutbox, AnAttachmentLimitSendsTheEventAlone) {
  Queue q;
  q.add("a"), q.add("b"), q.add("c");
  std::vector<bool> withReport;
  const auto drain = [&](Answer answer, size_t most) {
    q.outbox.drain(
        [&](std::string_view env) {
          withReport.push_back(env.find("report.txt") != std::string_view::npos);
          EXPECT_NE(env.find("\"type\":\"event\""), std::string_view::npos);
          return answer;
        },
        false, [&] { return withReport.size() == most; });
  };
  drain({200, "", "60:attachment:key", ""}, 2);
  EXPECT_EQ(withReport, (std::vector<bool>{true, false}));
  q.now += 61;
  drain({200, "", "", ""}, 3);
  EXPECT_EQ(withReport, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(q.outbox.pending(), 0u);
}

TEST(CollectorOutbox, RateLimitHeaders) {
  struct Case {
    const char* header;
    double error, attachment;
  } const cases[] = {
      {"", 0, 0},
      {"60::organization", 60, 60},  // no categories: all
      {"60:transaction:key, 2700:default;error:organization", 2700, 0},
      {"60:transaction:key", 0, 0},
      {"x:error, -5:error", 0, 0},
      {"300:attachment:key, 10: error :key", 10, 300},
      {"30:attachments;default:key", 30, 0},
      // No collector holds us back longer than a day; what is no number holds nothing.
      {"9999999999:error;attachment:key", kLongestLimit, kLongestLimit},
      {"inf:error, nan:attachment, 1e999:error", 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(limitSeconds(c.header, "error"), c.error) << c.header;
    EXPECT_EQ(limitSeconds(c.header, "attachment"), c.attachment) << c.header;
  }
  EXPECT_EQ(retryAfterSeconds("17"), 17);
  EXPECT_EQ(retryAfterSeconds("Wed, 21 Oct 2026 07:28:00 GMT"), 60);
  EXPECT_EQ(retryAfterSeconds("9999999999"), kLongestLimit);
  EXPECT_EQ(retryAfterSeconds("inf"), 60);

  // A limit kept from an absurd answer (an earlier version stored it as sent) holds nothing.
  Queue q;
  q.add("a");
  q.store.states["p/rate-limit"] = "1e300";
  q.store.states["p/backoff"] = "3 inf";
  EXPECT_EQ(q.outbox.rateLimitEnd(), 0);
  EXPECT_EQ(q.outbox.backoffEnd(), 0);
  EXPECT_EQ(q.drain({{429, "9999999999", "", ""}}), Seen{"a"});
  EXPECT_EQ(q.outbox.rateLimitEnd(), q.now + kLongestLimit);
}

// Reports set aside, temporaries a killed writer left and a report the caps cannot hold: each
// bounded, and none of them at the expense of the reports that wait.
TEST(CollectorOutbox, WhatIsSetAsideOrLeftBehindStaysWithinTheCaps) {
  Queue q;
  for (const char* id : {"a", "b", "c", "d", "e"}) q.add(id);
  q.drain({{400, "", "", ""}, {400, "", "", ""}, {400, "", "", ""}, {400, "", "", ""}, {400, "", "", ""}});
  EXPECT_EQ(q.store.listRejected("p").size(), 3u) << "rejected within the count";
  EXPECT_EQ(q.store.rejected.count(q.store.rejected.rbegin()->first), 1u);
  EXPECT_NE(q.store.rejected.rbegin()->first.find("-e"), std::string::npos) << "the newest kept";

  q.store.temporaries["p/1-x.report.Ab12Cd"] = {1500, kStaleTemporary + 1};
  q.store.temporaries["p/2-y.report.Ef34Gh"] = {1500, 1};
  q.store.temporaries["other/3-z.report.Ij56Kl"] = {1500, kStaleTemporary + 1};
  q.add("f"), q.add("g");
  q.store.states.erase("p/size");  // lost: the next report lists the folder
  EXPECT_EQ(q.outbox.add("h", std::string(300, 'x')), 2u) << "a write under way counts for the bytes";
  EXPECT_EQ(q.store.temporaries.size(), 2u) << "the stale one swept, another project's left";

  const size_t waiting = q.outbox.pending();
  EXPECT_NE(quenvar::testing::errorNumber([&] { q.outbox.add("huge", std::string(2001, 'x')); }), 0);
  EXPECT_EQ(q.outbox.pending(), waiting) << "refused alone";

  q.outbox.clear();
  EXPECT_EQ(q.outbox.pending(), 0u);
  EXPECT_TRUE(q.store.listRejected("p").empty());
}

// Queueing lists the folder only when the count and size kept say the caps are reached; the
// sender syncs the reports of its pass once before any leaves.
TEST(CollectorOutbox, QueueingIsOneWriteAndSendingSyncsFirst) {
  Queue q;
  q.add("a");
  const size_t lists = q.store.lists;
  q.add("b"), q.add("c");
  EXPECT_EQ(q.store.lists, lists) << "under the caps: no listing";
  EXPECT_EQ(q.store.unsynced.size(), 3u) << "the caller's thread does not sync";
  q.add("d");
  EXPECT_GT(q.store.lists, lists) << "at the caps: listed";
  EXPECT_EQ(q.outbox.pending(), 3u);
  bool syncedFirst = false;
  q.outbox.drain(
      [&](std::string_view) {
        syncedFirst = q.store.unsynced.empty();
        return Answer{200, "", "", ""};
      },
      false);
  EXPECT_TRUE(syncedFirst);
  EXPECT_EQ(q.store.states["p/size"].substr(0, 4), "0 0 ") << "the count kept anew after a pass";
  q.add("e");
  q.store.states["p/size"].back() ^= 1;  // a hint met half written
  const size_t listed = q.store.lists;
  q.add("f");
  EXPECT_GT(q.store.lists, listed) << "a hint that fails its check is none";
}

}  // namespace
}  // namespace quenvar::collector
