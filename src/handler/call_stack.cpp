#include "quenvar/automation_error.h"
#include "core/steps.h"
#include "quenvar/err_handler.h"
#include "handler/procedures.h"
#include "platform/platform.h"

namespace quenvar {

namespace {

using ParamTable = std::vector<std::shared_ptr<Procedures>>;

// Keeps the objects of the remaining slots and releases those cut off.
inline void resizeProcParams(ProcParamTable& params, int32_t upperBound) {
  auto& table = params.lists;
  if (!table) table.emplace();
  const size_t size = static_cast<size_t>(upperBound) + 1;
  // Push and Pop move it by one slot: that path stays inline, without a general resize.
  if (size == table->size() + 1)
    table->emplace_back();
  else if (size + 1 == table->size())
    table->pop_back();
  else
    table->resize(size);
}

std::shared_ptr<Procedures>& procParamsSlot(ProcParamTable& params, int64_t index) {
  auto& table = params.lists;
  if (!table || index < 0 || index >= static_cast<int64_t>(table->size())) raiseSubscript();
  auto& slot = (*table)[static_cast<size_t>(index)];
  if (!slot) slot = std::make_shared<Procedures>();
  return slot;
}

}  // namespace

int32_t clsErrHandler::Push(std::string_view strProc) {
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
    resizeProcParams(procParams_, stackDepth_);
    if (traceExecution_) writeTraceLine(stack_[depth]);
    return 0;
  } catch (...) {
    return currentFailure().number();
  }
}

int32_t clsErrHandler::Pop() {
  try {
    if (stack_.size() == 1) return 0;
    if (static_cast<size_t>(stackDepth_) >= stack_.size()) raiseSubscript();
    if (stackDepth_ == 0) stack_[0].clear();
    stack_.resize(stackDepth_ > 0 ? static_cast<size_t>(stackDepth_) : 1);
    auto& table = procParams_.lists;
    if (!table || static_cast<size_t>(stackDepth_) >= table->size()) raiseSubscript();
    (*table)[static_cast<size_t>(stackDepth_)].reset();
    if (stackDepth_ > 0) --stackDepth_;
    resizeProcParams(procParams_, stackDepth_);
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
