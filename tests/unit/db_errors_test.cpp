#include "report/db_errors.h"
#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;

TEST(CleanDBMessage, DropsTheDriverPrefix) {
  EXPECT_EQ(CleanDBMessage("[Microsoft][ODBC Microsoft Access Driver] Syntax error"), "Database Error:  Syntax error");
  EXPECT_EQ(CleanDBMessage("x[SQL Server]Invalid object name"), "Database Error: Invalid object name");
  EXPECT_EQ(CleanDBMessage("a[SQL Server]b[SQL Server]c"), "Database Error: b[SQL Server]c");
  EXPECT_EQ(CleanDBMessage("[SQL Server]one[ODBC Microsoft Access Driver]two"), "Database Error: two")
      << "the later prefix of the table decides, searched in the original text";
  EXPECT_EQ(CleanDBMessage("[sql server]lower case"), "[sql server]lower case");
  EXPECT_EQ(CleanDBMessage(""), "");
}

struct CollectDBErrors : HandlerFixture {
  Connection connection;
  CollectDBErrors() {
    handler.Destination("/logs");
    handler.Cn(connection.cn);
  }
};

TEST_F(CollectDBErrors, NoDriverErrorsOnlyCleansTheDescription) {
  handler.HandleError("[Microsoft][ODBC Microsoft Access Driver]Bad field", 3061);
  EXPECT_EQ(handler.ErrDesc(), "Database Error: Bad field");
  EXPECT_EQ(handler.ErrNum(), 3061);
  EXPECT_EQ(handler.ErrorType(), "0");
}

TEST_F(CollectDBErrors, FirstNativeCodeZeroLeavesEverythingButClears) {
  connection.errors->push_back(driverError(0, "[SQL Server]warning", "s", "01000", -2147217900));
  handler.HandleError("[SQL Server]kept as is", -2147217900);
  EXPECT_EQ(handler.ErrDesc(), "[SQL Server]kept as is");
  EXPECT_EQ(handler.ErrNum(), -2147217900);
  EXPECT_EQ(handler.ErrorType(), "0");
  EXPECT_TRUE(connection.errors->empty());
}

TEST_F(CollectDBErrors, RebasingThatOverflowsKeepsTheNumber) {
  connection.errors->push_back(driverError(7, "d", "s", "HY000", 262144));
  handler.HandleError("x", 262144);
  EXPECT_TRUE(handler.ErrDesc().starts_with("\r\nDATABASE ERROR MESSAGE(S)\r\n\r\nDB ERROR 1\t"));
  EXPECT_TRUE(handler.ErrDesc().ends_with("ERROR:\t\t2147483648 (262144)"));
  EXPECT_EQ(handler.ErrNum(), 262144);
  EXPECT_EQ(handler.ErrorType(), "0");
  EXPECT_EQ(connection.errors->size(), 1u) << "not cleared";

  connection.errors->assign({driverError(7, "d", "s", "HY000", 1)});
  handler.HandleError("x", 262143);
  EXPECT_EQ(handler.ErrNum(), 2147483647);
}

TEST_F(CollectDBErrors, FailingMemberEndsTheListingQuietly) {
  auto broken = object();
  broken->set("NativeError", int32_t{1}).set("Description", "d");
  connection.errors->push_back(driverError(9, "first", "s", "HY000", -2147217900));
  connection.errors->push_back(broken);
  EXPECT_EQ(handler.HandleError("original", 17), 0);
  EXPECT_EQ(handler.ErrDesc(), "original");
  EXPECT_EQ(handler.ErrNum(), 17);
  EXPECT_EQ(connection.errors->size(), 2u);
}

TEST_F(CollectDBErrors, UnsetConnectionChangesNothing) {
  clsErrHandler bare(services.platform);
  bare.Destination("/logs");
  bare.HandleError("[SQL Server]not cleaned", 5);
  EXPECT_EQ(bare.ErrDesc(), "[SQL Server]not cleaned");
}

}  // namespace
}  // namespace quenvar
