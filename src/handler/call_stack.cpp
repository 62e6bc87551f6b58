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
    if (m_lngStackDepth == INT32_MAX) raiseOverflow();
    ++m_lngStackDepth;
    const size_t depth = static_cast<size_t>(m_lngStackDepth);
    if (m_strStack.size() == depth) {
      m_strStack.push(strProc);
    } else {
      m_strStack.resize(depth + 1);
      m_strStack[depth].assign(strProc);
    }
    resizeProcParams(m_procParams, m_lngStackDepth);
    if (m_bolTraceExecution) writeTraceLine(m_strStack[depth]);
    return 0;
  } catch (...) {
    return currentFailure().number();
  }
}

int32_t clsErrHandler::Pop() {
  try {
    if (m_strStack.size() == 1) return 0;
    if (static_cast<size_t>(m_lngStackDepth) >= m_strStack.size()) raiseSubscript();
    if (m_lngStackDepth == 0) m_strStack[0].clear();
    m_strStack.resize(m_lngStackDepth > 0 ? static_cast<size_t>(m_lngStackDepth) : 1);
    auto& table = m_procParams.lists;
    if (!table || static_cast<size_t>(m_lngStackDepth) >= table->size()) raiseSubscript();
    (*table)[static_cast<size_t>(m_lngStackDepth)].reset();
    if (m_lngStackDepth > 0) --m_lngStackDepth;
    resizeProcParams(m_procParams, m_lngStackDepth);
    return 0;
  } catch (...) {
    return currentFailure().number();
  }
}

void clsErrHandler::AddParam(const std::string& sParam, const std::string& sType, const Variant& vVal) {
  procParamsSlot(m_procParams, m_lngStackDepth)->Add(sParam, sType, vVal);
}

std::string clsErrHandler::ShowParam() {
  // Hold the list: reading an object value may call back into the stack.
  std::shared_ptr<Procedures> list = procParamsSlot(m_procParams, static_cast<int64_t>(m_strStack.size()) - 1);
  return platform_.locale->text(list->ReadParams(*platform_.locale));
}

VariantArray clsErrHandler::CallStack() const {
  VariantArray names;
  names.items.assign(m_strStack.begin(), m_strStack.end());
  return names;
}

}  // namespace quenvar
