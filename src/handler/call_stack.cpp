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
  int64_t depth = StackDepth();
  int32_t status = 0;
  try {
    if (depth == INT32_MAX) raiseOverflow();
    ++depth;  // counted even when the stack cannot grow
    const size_t top = static_cast<size_t>(depth);
    if (stack_.size() == top) {
      stack_.push(strProc);
    } else {
      stack_.resize(top + 1);
      stack_[top].assign(strProc);
    }
    procParams_.resize(top + 1);
    if (traceExecution_) writeTraceLine(stack_[top]);
  } catch (...) {
    status = currentFailure().number();
  }
  keepDepth(depth);
  return status;
}

int32_t clsErrHandler::popAnyDepth() noexcept {
  int64_t depth = StackDepth();
  int32_t status = 0;
  try {
    if (stack_.size() > 1) {
      const size_t top = static_cast<size_t>(depth);
      if (top >= stack_.size()) raiseSubscript();
      if (top == 0) stack_[0].clear();
      stack_.resize(top > 0 ? top : 1);
      if (!procParams_.exists() || top >= procParams_.size()) raiseSubscript();
      procParams_[top].reset();
      if (depth > 0) --depth;
      procParams_.resize(static_cast<size_t>(depth) + 1);
    }
  } catch (...) {
    status = currentFailure().number();
  }
  keepDepth(depth);
  return status;
}

void clsErrHandler::keepDepth(int64_t depth) noexcept {
  depthOffset_ = depth - (static_cast<int64_t>(stack_.size()) - 1);
  allowMovesInPlace();
}

void clsErrHandler::allowMovesInPlace() noexcept { stack_.allowInPlace(!traceExecution_ && depthOffset_ == 0); }

void clsErrHandler::AddParam(const std::string& sParam, const std::string& sType, const Variant& vVal) {
  procParamsSlot(procParams_, StackDepth())->Add(sParam, sType, vVal);
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
