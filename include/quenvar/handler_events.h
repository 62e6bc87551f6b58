#pragma once

namespace quenvar {

// The client's side of the two events HandleError raises. A sink may fail with
// AutomationError; that fails the event step.
class HandlerEvents {
 public:
  virtual ~HandlerEvents() = default;
  // Setting Cancel vetoes the report, Error.log and the section texts.
  virtual void BeforeHandlerCalled(bool& Cancel) = 0;
  virtual void AfterHandlerCalled() = 0;
};

}  // namespace quenvar
