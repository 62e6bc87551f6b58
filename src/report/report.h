#pragma once
// The report of one handled error, built from plain data: four plain-text sections. Every line
// is one step: a line whose value cannot be read is left out whole, label included.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "quenvar/object.h"

namespace quenvar {

struct Platform;
class Steps;
class SysObj;

struct ReportInput {
  // The error as HandleError settled it.
  int32_t number = 0;
  std::string procedure;
  int16_t line = 0;
  std::string description;
  std::string customMessage;
  bool databaseError = false;  // the heading says "Database" rather than "Application"

  // Read as each line is built: a client member may replace the objects, push and pop, or set
  // the current operation while the report is made.
  std::function<std::string()> currentOperation;
  std::function<ObjectRef()> application;
  std::function<ObjectRef()> connection;
  // The stack entry at `level`, nothing above the top; a level the stack lost raises 9.
  std::function<std::optional<std::string>(size_t level)> stackEntry;
  std::function<std::string()> parameterText;
};

std::string errorSection(const ReportInput& in, Platform& platform, Steps& step);
// These three are built directly in `into`, the handler's property: a client member that reads
// it meanwhile sees the section grow.
void applicationSection(const ReportInput& in, Platform& platform, Steps& step, std::string& into);
void systemSection(const SysObj& sys, Steps& step, std::string& into);
void databaseSection(const ReportInput& in, Platform& platform, Steps& step, std::string& into);

}  // namespace quenvar
