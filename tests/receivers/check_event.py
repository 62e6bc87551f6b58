#!/usr/bin/env python3
"""Checks the handled error that tests/com/scripts/collector.vbs (under Wine) and
tests/posix/collector_spotlight_test.cpp (native) send, as a collector took it.

    check_event.py [--sent-by AGENT] TAKEN EVENT_ID
    check_event.py --fatal TYPE [--last N] [--minidump] TAKEN
    check_event.py --sessions STATUS=COUNT,... TAKEN

TAKEN is what read_stream.py wrote: Spotlight's reading of each envelope it took and, beside
it, the bytes. Without --sent-by exactly one envelope arrived, the client's; with it, the one
envelope of EVENT_ID whose sender's User-Agent begins with AGENT (Sentry's CLI sending again what
it parsed into Sentry's own types) is checked the same way, so that a field the checks read where
Sentry does not, and would drop, fails here. Session updates are left out of the events' checks;
--sessions checks them alone: each run's session told once as begun, the runs ended with each
status counted.
"""
import argparse
import json
import sys

FAILURES = []


def check(what, ok, got=None):
    if not ok:
        FAILURES.append(what if got is None else "%s: got %r" % (what, got))


def same_id(a, b):
    return isinstance(a, str) and a.replace("-", "").lower() == b.replace("-", "").lower()


def check_event(event, event_id, sentrys_reading):
    check("the event's id", same_id(event.get("event_id"), event_id), event.get("event_id"))
    # Error is the level Sentry's types assume, and leave out when they write.
    check("level error", event.get("level", "error" if sentrys_reading else None) == "error", event.get("level"))
    check("a timestamp", bool(event.get("timestamp")), event.get("timestamp"))
    check("the release from the application object", event.get("release") == "Orders@2.0.15", event.get("release"))
    check("the environment", event.get("environment") == "production", event.get("environment"))
    check("the SDK's name", (event.get("sdk") or {}).get("name") == "quenvar", event.get("sdk"))
    values = (event.get("exception") or {}).get("values") or []
    check("one exception", len(values) == 1, values)
    if len(values) != 1:
        return
    exception = values[0]
    check("the error as the exception's type", exception.get("type") == "Error 1042", exception.get("type"))
    check("the description as its value", exception.get("value") == "Could not post", exception.get("value"))
    check("handled", (exception.get("mechanism") or {}).get("handled") is True, exception.get("mechanism"))
    frames = (exception.get("stacktrace") or {}).get("frames") or []
    check("one frame per procedure, outermost first",
          [f.get("function") for f in frames] == ["Main", "PostInvoice"], frames)
    if len(frames) == 2:
        main, post = frames
        check("Main's parameters", main.get("vars") == {"Mode": "batch"}, main.get("vars"))
        check("the error line on the innermost frame alone",
              post.get("lineno") == 30 and main.get("lineno") is None, (main.get("lineno"), post.get("lineno")))
        check("PostInvoice's parameters, the password masked",
              post.get("vars") == {"InvoiceId": "1042", "Password": "********"}, post.get("vars"))
    contexts = event.get("contexts") or {}
    os = contexts.get("os") or {}
    check("the system's name", isinstance(os.get("name"), str) and os["name"] != "", os)
    device = contexts.get("device") or {}
    check("the memory", isinstance(device.get("memory_size"), int) and device["memory_size"] > 0, device)
    app = contexts.get("app") or {}
    check("the application's facts", app.get("app_name") == "Orders" and app.get("app_version") == "2.0.15"
          and app.get("product_name") == "Ledger", app)
    database = contexts.get("database")
    if database is not None:
        check("the connection's driver and provider",
              database.get("driver_version") == "2.8" and database.get("provider") == "MSDASQL.1", database)
        check("the connection's password property masked", database.get("Password") == "********", database)
        check("a password inside a property masked",
              database.get("Extended Properties") == "DSN=Orders;UID=clerk;PWD=********", database)
    tags = event.get("tags") or {}
    if isinstance(tags, list):  # Sentry's types write tags as pairs
        tags = dict(tags)
    check("the error number and procedure as tags",
          tags.get("error_number") == "1042" and tags.get("procedure") == "PostInvoice", tags)
    check("no user's names without SendUserName", "user" not in event and "server_name" not in event,
          (event.get("user"), event.get("server_name")))


def check_fatal(event, kind):
    """The crash report of tests/posix/crash_client.cpp (and its Windows twin), dead by KIND."""
    check("level fatal", event.get("level") == "fatal", event.get("level"))
    check("the release from the application object", event.get("release") == "Orders@2.0.15", event.get("release"))
    values = (event.get("exception") or {}).get("values") or []
    check("one exception", len(values) == 1, values)
    if len(values) != 1:
        return
    exception = values[0]
    check("the fault as the exception's type", exception.get("type") == kind, exception.get("type"))
    check("the fault in words", isinstance(exception.get("value"), str) and exception["value"] != "",
          exception.get("value"))
    mechanism = exception.get("mechanism") or {}
    check("unhandled", mechanism.get("handled") is False, mechanism)
    meta = mechanism.get("meta") or {}
    check("the signal or code in the mechanism's meta", bool(meta.get("signal") or meta.get("exception")), mechanism)
    frames = (exception.get("stacktrace") or {}).get("frames") or []
    check("the procedure stack, outermost first",
          [f.get("function") for f in frames] == ["Main", "PostInvoice", "WriteLedger"], frames)
    if len(frames) == 3:
        check("the parameters, the password masked",
              [f.get("vars") for f in frames] == [{"Mode": "batch"}, {"InvoiceId": "1042", "Password": "********"},
                                                 {"Account": "4000"}], [f.get("vars") for f in frames])
    app = (event.get("contexts") or {}).get("app") or {}
    check("the application's facts", app.get("app_name") == "Orders", app)
    check("the system's facts", bool(((event.get("contexts") or {}).get("os") or {}).get("name")), event.get("contexts"))


def is_session(taken):
    items = taken["envelope"][1]
    return bool(items) and all(i[0].get("type") == "session" for i in items)


# Each envelope Spotlight took as (its number in TAKEN, its reading), session updates left out
# unless asked for; with `clients`, only those a client sent (not Sentry's CLI again).
def read_taken(path, sessions=False, clients=False):
    with open(path) as f:
        taken = [(n, json.loads(line)) for n, line in enumerate(f, 1)]
    return [(n, t) for n, t in taken if is_session(t) == sessions and not (
        clients and str(t["envelope"][0].get("__spotlight_sender_user_agent", "")).startswith("sentry-cli/"))]


def main_sessions(args):
    # STATUS=COUNT[:ERRORS], ERRORS the runs' errors together: a crash counts as its run's
    # error; the other runs handle none unless said.
    expected, errors = {}, {}
    for pair in args.sessions.split(","):
        status, count = pair.split("=")
        count, _, together = count.partition(":")
        if int(count):
            expected[status] = int(count)
        errors[status] = int(together) if together else int(count) if status == "crashed" else 0
    by_sid = {}
    for _, t in read_taken(args.taken, sessions=True, clients=True):
        for _, update in t["envelope"][1]:
            updates = by_sid.setdefault(update.get("sid"), [])
            # A run that dies while sending leaves the update to go again, the same to the byte.
            if update not in updates:
                updates.append(update)
    ended, counted = {}, {}
    for sid, updates in by_sid.items():
        check("a UUID as sid", isinstance(sid, str) and len(sid) == 36 and sid[14] == "4", sid)
        check("one update begins it", sum(1 for u in updates if u.get("init") is True) == 1, updates)
        for u in updates:
            attrs = u.get("attrs") or {}
            check("the release from the application object", attrs.get("release") == "Orders@2.0.15", attrs)
            check("the environment", attrs.get("environment") == "production", attrs)
            check("no user's name unasked", "did" not in u, u)
            check("its moments", all(isinstance(u.get(k), str) for k in ("started", "timestamp")), u)
            check("the same start throughout", u.get("started") == updates[0].get("started"), updates)
        end = [u for u in updates if u.get("status") != "ok"]
        check("one end", len(end) == 1, updates)
        if len(end) == 1:
            ended[end[0]["status"]] = ended.get(end[0]["status"], 0) + 1
            counted[end[0]["status"]] = counted.get(end[0]["status"], 0) + end[0].get("errors", 0)
    check("the runs' ends", ended == expected, ended)
    check("their errors", counted == {k: v for k, v in errors.items() if k in ended}, counted)
    for failure in FAILURES:
        print("FAILED: the sessions: %s" % failure)
    if FAILURES:
        sys.exit(1)
    print("the sessions (%s): every check passed" % args.sessions)


def main_fatal(args):
    taken = read_taken(args.taken, clients=True)
    last = taken[-args.last:] if args.last <= len(taken) else []
    check("%d envelopes" % args.last, len(last) == args.last, len(taken))
    dumps = 0
    for n, t in last:
        header, items = t["envelope"]
        kinds = [i[0].get("attachment_type", i[0].get("type")) for i in items]
        dumps += kinds == ["event", "event.minidump"]
        # A dump comes after its report is kept; a process the bound ended first has none.
        check("the event (no report.txt for a crash)%s" % (", with or without its minidump" if args.minidump else ""),
              kinds in ([["event"], ["event", "event.minidump"]] if args.minidump else [["event"]]),
              [i[0] for i in items])
        if items:
            check_fatal(items[0][1], args.fatal)
        check("no password anywhere", b"hunter2" not in open("%s.%d" % (args.taken, n), "rb").read())
    if args.minidump:
        check("a minidump with one of them at least", dumps > 0, dumps)
    for failure in FAILURES:
        print("FAILED: the crash reports: %s" % failure)
    if FAILURES:
        sys.exit(1)
    print("the last %d crash reports (%s): every check passed" % (args.last, args.fatal))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sent-by")
    parser.add_argument("--fatal", help="check the last LAST envelopes as crash reports of this type")
    parser.add_argument("--last", type=int, default=1)
    parser.add_argument("--minidump", action="store_true", help="each crash report carries one")
    parser.add_argument("--sessions", help="STATUS=COUNT[:ERRORS],...: the runs ended with each status")
    parser.add_argument("taken")
    parser.add_argument("event_id", nargs="?", default="")
    args = parser.parse_args()
    if args.sessions:
        return main_sessions(args)
    if args.fatal:
        return main_fatal(args)
    if len(args.event_id) != 32:
        sys.exit("check_event.py: no event id from the client (%r)" % args.event_id)
    taken = dict(read_taken(args.taken))
    if args.sent_by:
        chosen = [n for n, t in taken.items()
                  if str(t["envelope"][0].get("__spotlight_sender_user_agent", "")).startswith(args.sent_by)
                  and same_id(t["envelope"][0].get("event_id"), args.event_id)]
        what = "the copy %s sent again" % args.sent_by
    else:
        chosen = list(taken)
        what = "the client's envelope"
    if len(chosen) != 1:
        sys.exit("FAILED: %s: %d envelopes arrived, not one" % (what, len(chosen)))
    n = chosen[0]
    content_type, (header, items) = taken[n]["content_type"], taken[n]["envelope"]
    raw = open("%s.%d" % (args.taken, n), "rb").read()

    check("sent as an envelope", content_type == "application/x-sentry-envelope", content_type)
    check("the envelope's event id", same_id(header.get("event_id"), args.event_id), header)
    if not args.sent_by:
        check("the moment it was sent", isinstance(header.get("sent_at"), str), header)
    check("an event and its report",
          [i[0].get("type") for i in items] == ["event", "attachment"], [i[0] for i in items])
    if len(items) == 2:
        check_event(items[0][1], args.event_id, bool(args.sent_by))
        attachment_header, attachment = items[1]
        check("the report as report.txt, plain text",
              attachment_header.get("filename") == "report.txt" and attachment_header.get("content_type") == "text/plain",
              attachment_header)
        report = (attachment or {}).get("data", "")
        check("the report's sections", all(s in report for s in (
            "Orders Application Error Information", "Could not post", "Password : ********")), report[:400])
    check("no password anywhere", b"hunter2" not in raw)

    for failure in FAILURES:
        print("FAILED: %s: %s" % (what, failure))
    if FAILURES:
        sys.exit(1)
    print("%s of event %s: every check passed" % (what, args.event_id))


if __name__ == "__main__":
    main()
