#include "sys_obj_com.h"

#include "bstr.h"
#include "com_errors.h"
#include "com_object.h"
#include "quenvar/sys_obj.h"

namespace quenvar::com {

namespace {

class SysObjCom : public ComObject<_SysObj, &IID__SysObj> {
 public:
  explicit SysObjCom(std::shared_ptr<quenvar::SysObj> facts) : facts_(std::move(facts)) {}

#define QUENVAR_FACT(Name)                                                 \
  HRESULT STDMETHODCALLTYPE get_##Name(BSTR* value) override {             \
    if (!value) return E_POINTER;                                          \
    *value = nullptr;                                                      \
    return call([&] { *value = toBstr(facts_->Name()); });                   \
  }
  QUENVAR_FACT(PlatForm)
  QUENVAR_FACT(OsVersion)
  QUENVAR_FACT(Build)
  QUENVAR_FACT(ServicePack)
  QUENVAR_FACT(Cpu)
  QUENVAR_FACT(TotalPhysicalMemory)
  QUENVAR_FACT(AvailablePhysicalMemory)
  QUENVAR_FACT(TotalVirtualMemory)
  QUENVAR_FACT(AvailableVirtualMemory)
#undef QUENVAR_FACT

 private:
  std::shared_ptr<quenvar::SysObj> facts_;
};

}  // namespace

_SysObj* createSysObj(std::shared_ptr<quenvar::SysObj> facts) { return new SysObjCom(std::move(facts)); }

}  // namespace quenvar::com
