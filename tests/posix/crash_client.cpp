// A client of the native library that dies by the fault its argument names, as crash_capture.sh
// drives it: one process per fault, with capture on or off, and a later process that sends what
// the crash left.
//
//   crash_client <fault> on|off|chained|over  chained: the client's own handler, installed first,
//                                             writes "client handler ran" to stderr and passes on;
//                                             over: the same installed over ours, then capture
//                                             set again
//   crash_client send [consent]             prints "crashed last run: 0|1", sends what waits
//                                             (consent: given first)
//   crash_client handled|untracked|refused|kill  a run that handles one error and ends
//                                             normally (untracked: sessions turned off first;
//                                             refused: consent refused first), or kills itself
//
// The collector is QUENVAR_TEST_DSN; the outbox is under XDG_STATE_HOME, as for any client.

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../unit/client_objects.h"
#include "quenvar/collector.h"
#include "quenvar/err_handler.h"

namespace {

using quenvar::Variant;

struct sigaction clientPrevious;

void clientHandler(int signal) {
  static const char said[] = "client handler ran\n";
  (void)!::write(2, said, sizeof said - 1);
  ::sigaction(signal, &clientPrevious, nullptr);
  if (signal == SIGABRT) ::raise(signal);  // abort() would not come back to it otherwise
}

volatile bool deeper = true;

[[gnu::noinline]] int overflow(int depth) {
  volatile char ballast[4096];
  ballast[0] = static_cast<char>(depth);
  if (!deeper) return 0;
  return overflow(depth + 1) + ballast[0];
}

int die(const std::string& fault) {
  if (fault == "segv") *static_cast<volatile int*>(nullptr) = 1;
  if (fault == "ill") __builtin_trap();
  if (fault == "fpe") {
    volatile int zero = 0, quotient = 1;
    quotient = quotient / zero;
    return quotient;
  }
  if (fault == "bus") {
    // A page of a file that ends before it.
    FILE* file = std::tmpfile();
    auto* page = static_cast<volatile char*>(::mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE, fileno(file), 0));
    return page[0];
  }
  if (fault == "abort") std::abort();
  if (fault == "stack") return overflow(0);
  if (fault == "doublefree") {
    // The allocator finds its own state broken and aborts inside itself.
    char* volatile block = static_cast<char*>(std::malloc(64));
    std::free(block);
    std::free(block);
  }
  std::fprintf(stderr, "no fault named %s\n", fault.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* dsn = std::getenv("QUENVAR_TEST_DSN");
  if (argc < 2 || dsn == nullptr) {
    std::fprintf(stderr, "usage: QUENVAR_TEST_DSN=... crash_client <fault> on|off|chained | send\n");
    return 2;
  }
  const std::string fault = argv[1], mode = argc > 2 ? argv[2] : "";
  quenvar::Collector collector;
  if (fault == "untracked") collector.TrackSessions(false);
  collector.Dsn(dsn);
  if (fault == "refused") collector.Consent(2);
  if (fault == "send") {
    if (mode == "consent") collector.Consent(1);
    std::printf("crashed last run: %d\n", collector.CrashedLastRun() ? 1 : 0);
    collector.ClearCrashedLastRun();
    const int left = collector.Flush(20000);
    std::printf("left: %d %s\n", left, collector.LastError().c_str());
    return left == 0 ? 0 : 1;
  }
  const auto installClientHandler = [] {
    struct sigaction action {};
    action.sa_handler = clientHandler;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::sigaction(signal, &action, &clientPrevious);
  };
  if (mode == "chained") installClientHandler();
  quenvar::clsErrHandler handler;
  handler.AppObject(quenvar::test::application());
  if (mode != "off") collector.CatchCrashes(true);
  if (mode == "over") {
    installClientHandler();
    collector.CatchCrashes(true);
  }
  handler.Push("Main");
  handler.AddParam("Mode", "String", Variant("batch"));
  handler.Push("PostInvoice");
  handler.AddParam("InvoiceId", "Long", Variant(int32_t{1042}));
  handler.AddParam("Password", "String", Variant("hunter2"));
  handler.Push("WriteLedger");
  handler.AddParam("Account", "String", Variant("4000"));
  if (fault == "handled" || fault == "untracked" || fault == "refused")
    return handler.HandleError("Could not post", 1042, 30) == 0 ? 0 : 1;
  if (fault == "kill") ::raise(SIGKILL);
  return die(fault);
}
