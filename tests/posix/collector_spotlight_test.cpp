// A handled error through the native library's real parts (an outbox on disk, libcurl) to the
// collector QUENVAR_TEST_SPOTLIGHT_DSN names. collector_spotlight.sh starts Sentry's Spotlight,
// runs this and checks what Spotlight took of the event printed here: the same client and checks
// as the script under Wine (tests/com/scripts/collector.vbs).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "../unit/client_objects.h"
#include "collector/hub.h"
#include "platform/platform.h"
#include "platform/posix/outbox_store_posix.h"
#include "quenvar/collector.h"
#include "quenvar/err_handler.h"
#include "temp_folder.h"

namespace quenvar {
namespace {

TEST(PosixCollectorSpotlight, SendsTheHandledError) {
  const char* dsn = std::getenv("QUENVAR_TEST_SPOTLIGHT_DSN");
  if (dsn == nullptr || *dsn == '\0') GTEST_SKIP() << "no collector: tests/posix/collector_spotlight.sh runs this";
  testing::TempFolder dir;
  PosixOutboxStore outbox{dir / "outbox"};
  Platform platform = defaultPlatform();
  platform.outbox = &outbox;
  collector::Hub hub(platform);
  Collector collector(platform);
  collector.Dsn(dsn);

  test::Connection cn("Provider=MSDASQL.1;DSN=Orders;UID=clerk;PWD=hunter2");
  cn.cn->set("Provider", "MSDASQL.1");
  cn.properties->push_back(test::property("Provider", "MSDASQL.1"));
  cn.properties->push_back(test::property("Password", "hunter2"));
  cn.properties->push_back(test::property("Extended Properties", "DSN=Orders;UID=clerk;PWD=hunter2"));
  clsErrHandler h(platform);
  h.Destination(dir / "logs");
  h.AppObject(test::application());
  h.Cn(cn.cn);
  h.Push("Main");
  h.AddParam("Mode", "String", Variant("batch"));
  h.Push("PostInvoice");
  h.AddParam("InvoiceId", "Long", Variant(int32_t{1042}));
  h.AddParam("Password", "String", Variant("hunter2"));
  EXPECT_EQ(h.HandleError("Could not post", 1042, 30), 0);
  ASSERT_EQ(collector.LastEventId().size(), 32u);
  EXPECT_EQ(collector.Flush(10000), 0) << collector.LastError();
  EXPECT_EQ(collector.LastError(), "");
  std::printf("EVENT %s\n", collector.LastEventId().c_str());
}

}  // namespace
}  // namespace quenvar
