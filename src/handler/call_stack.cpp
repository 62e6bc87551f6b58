#include "quenvar/automation_error.h"
#include "core/steps.h"
#include "core/text.h"
#include "quenvar/err_handler.h"
#include "handler/procedures.h"
#include "platform/platform.h"

namespace quenvar {

namespace {

std::shared_ptr<Procedures>& procParamsSlot(ProcParamTable& params, int64_t index) {
  if (!params.exists() || index < 0 || index >= static_cast<int64_t>(params.size())) raiseSubscript();
  auto& slot = params[static_cast<size_t>(index)];
  if (!slot) slot = std::make_shared<Procedures>();
  return slot;
}

}  // namespace

int32_t clsErrHandler::pushConverted(std::u16string_view strProc) noexcept {
  std::string name;
  try {
    name = utf8FromUtf16(strProc);
  } catch (...) {
    return currentFailure().number();
  }
  return pushAnyDepth(name);
}

int32_t clsErrHandler::pushAnyDepth(std::string_view strProc) noexcept {
  try {
    if (stackDepth_ == INT32_MAX) raiseOverflow();
    ++stackDepth_;
    const size_t depth = static_cast<size_t>(stackDepth_);
    if (stack_.size() == depth) {
      stack_.push(strProc);
    } else {
      stack_.resize(depth + 1);
      stack_[depth].assign(strProc);
    }
    procParams_.resize(static_cast<size_t>(stackDepth_) + 1);
    if (traceExecution_) writeTraceLine(stack_[depth]);
    return 0;
  } catch (...) {
    return currentFailure().number();
  }
}

int32_t clsErrHandler::popAnyDepth() noexcept {
  try {
    if (stack_.size() == 1) return 0;
    if (static_cast<size_t>(stackDepth_) >= stack_.size()) raiseSubscript();
    if (stackDepth_ == 0) stack_[0].clear();
    stack_.resize(stackDepth_ > 0 ? static_cast<size_t>(stackDepth_) : 1);
    if (!procParams_.exists() || static_cast<size_t>(stackDepth_) >= procParams_.size()) raiseSubscript();
    procParams_[static_cast<size_t>(stackDepth_)].reset();
    if (stackDepth_ > 0) --stackDepth_;
    procParams_.resize(static_cast<size_t>(stackDepth_) + 1);
    return 0;
  } catch (...) {
    return currentFailure().number();
  }
}

void clsErrHandler::AddParam(const std::string& sParam, const std::string& sType, const Variant& vVal) {
  procParamsSlot(procParams_, stackDepth_)->Add(sParam, sType, vVal);
}

std::string clsErrHandler::ShowParam() {
  // Hold the list: reading an object value may call back into the stack.
  std::shared_ptr<Procedures> list = procParamsSlot(procParams_, static_cast<int64_t>(stack_.size()) - 1);
  return platform_.locale->text(list->ReadParams(*platform_.locale));
}

VariantArray clsErrHandler::CallStack() const {
  VariantArray names;
  names.items.assign(stack_.begin(), stack_.end());
  return names;
}

}  // namespace quenvar
