// The parameter text of the stack: Push, Pop, AddParam and ShowParam in any order on two
// handlers of one thread (they share the parameter table), with values of every type and
// object values whose default member works the stack while the text is being made. Only
// subscript errors reach the caller, and while no value holds a line break the text is a
// sequence of well-formed, consecutively numbered entries.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quenvar/automation_error.h"
#include "quenvar/dynamic_object.h"
#include "core/thread_state.h"
#include "dialogs/thread_dialogs.h"
#include "handler/procedures.h"
#include "mail/mail_settings.h"
#include "fakes/fake_platform.h"
#include "fuzz_input.h"
#include "quenvar/err_handler.h"

namespace {

using namespace quenvar;

std::string ordinal(size_t k) {
  const char* suffix = "th";
  if (k % 100 < 11 || k % 100 > 13) {
    if (k % 10 == 1) suffix = "st";
    if (k % 10 == 2) suffix = "nd";
    if (k % 10 == 3) suffix = "rd";
  }
  return std::to_string(k) + suffix;
}

void checkWellFormed(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0;;) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      if (at != text.size()) __builtin_trap();  // ends with a line break
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  if (lines.empty() || !lines[0].empty()) __builtin_trap();
  for (size_t i = 1, k = 1; i < lines.size(); i += 5, ++k) {
    if (i + 4 > lines.size()) __builtin_trap();
    if (lines[i] != ordinal(k) + " Param:" || !lines[i + 1].starts_with("Name: \t") ||
        !lines[i + 2].starts_with("Type : \t") || !lines[i + 3].starts_with("Value: \t"))
      __builtin_trap();
    if (i + 4 < lines.size() && !lines[i + 4].empty()) __builtin_trap();
  }
}

struct Stack {
  fake::Services services;
  clsErrHandler first{services.platform}, second{services.platform};
  bool lineBreaks = false;  // some name, type or value carried one
  int nesting = 0;
  int replays = 0;  // steps run from inside default members, capped: they fan out

  void step(fuzz::Input& in) {
    clsErrHandler& h = in.byte() % 2 == 0 ? first : second;
    switch (in.byte() % 4) {
      case 0: (void)h.Push(in.text()); break;
      case 1: (void)h.Pop(); break;
      case 2: {
        const std::string name = in.text(), type = in.text();
        const Variant v = value(in);
        lineBreaks |= (name + type).find_first_of("\r\n") != std::string::npos ||
                      (v.string() && v.string()->find_first_of("\r\n") != std::string::npos);
        h.AddParam(name, type, v);
        break;
      }
      default: {
        const std::string text = h.ShowParam();
        if (!text.empty() && !lineBreaks) checkWellFormed(text);
      }
    }
  }

  // Now and then an object whose default member replays a few steps of its own.
  Variant value(fuzz::Input& in) {
    if (in.byte() % 6 != 0) return in.scalar();
    const std::string script(in.rest().substr(0, in.byte() % 24));
    auto o = std::make_shared<DynamicObject>();
    o->setDefault([this, script](std::span<const Variant>) {
      // A default member that reads itself forever is the client's own endless recursion.
      if (nesting > 2 || replays > 2000) return Variant("object");
      fuzz::Input replay(reinterpret_cast<const uint8_t*>(script.data()), script.size());
      ++nesting;
      try {
        for (; !replay.empty(); ++replays) step(replay);
      } catch (...) {
        --nesting;
        throw;
      }
      --nesting;
      return Variant("object");
    });
    return Variant(ObjectRef(o));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  threadState().part<ProcParamTable>() = {};  // as on a thread that never pushed
  {
    fuzz::Input in(data, size);
    Stack stack;
    for (int ops = 0; !in.empty() && ops < 500; ++ops) {
      try {
        stack.step(in);
      } catch (const AutomationError& e) {
        if (e.number() != err::kSubscript) __builtin_trap();
      }
    }
  }
  threadState().part<ProcParamTable>() = {};
  return 0;
}
