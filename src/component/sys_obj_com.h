#pragma once

#include <memory>

#include "quenvar.h"

namespace quenvar {
class SysObj;
}

namespace quenvar::com {

// A SysObj handed to clients; not creatable by them.
_SysObj* createSysObj(std::shared_ptr<quenvar::SysObj> facts);

}  // namespace quenvar::com
