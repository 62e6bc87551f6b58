// The four sections character for character, for a realistic client and for a bare one.

#include "test_support.h"

namespace quenvar {
namespace {

using namespace test;

struct Report : HandlerFixture {
  Connection connection;

  void realisticClient() {
    handler.Destination("/logs");
    handler.AppObject(application());
    connection.properties->assign({
        property("Provider", "MSDASQL.1"),
        property("Password", "hunter2"),
        property("Extended Properties", "DSN=Orders;UID=clerk;PWD=s3cret;APP=Ledger"),
        property("Connect Timeout", int32_t{15}),
        property("Null Prop", Variant::null()),
    });
    connection.errors->assign({
        driverError(1205, "[Microsoft][ODBC SQL Server Driver][SQL Server]Transaction (Process ID 52) was deadlocked",
                    "Microsoft OLE DB Provider for ODBC Drivers", "40001", -2147467259),
        driverError(3621, "[Microsoft][ODBC SQL Server Driver][SQL Server]The statement has been terminated.",
                    "Microsoft OLE DB Provider for ODBC Drivers", "01000", -2147217900),
    });
    handler.Cn(connection.cn);
    handler.CurrentOperation("Posting invoice 1042");
    handler.Push("Main");
    handler.Push("Load");
    handler.Push("Calc");
    handler.AddParam("InvoiceId", "Long", Variant(int32_t{1042}));
    handler.AddParam("Amount", "Currency", Variant(Currency{125000}));
  }
};

const std::string kDriverErrors =
    "\r\nDATABASE ERROR MESSAGE(S)\r\n\r\n"
    "DB ERROR 1\tNative DB ERR#: 1205\r\n"
    "DESCRIPTION:\tDatabase Error: Transaction (Process ID 52) was deadlocked\r\n"
    "SOURCE:\t\tMicrosoft OLE DB Provider for ODBC Drivers\r\n"
    "SQL STATE:\t40001\r\n"
    "ERROR:\t\t-245755 (-2147467259)\r\n"
    "DB ERROR 2\tNative DB ERR#: 3621\r\n"
    "DESCRIPTION:\tDatabase Error: The statement has been terminated.\r\n"
    "SOURCE:\t\tMicrosoft OLE DB Provider for ODBC Drivers\r\n"
    "SQL STATE:\t01000\r\n"
    "ERROR:\t\t3604 (-2147217900)";

const std::string kErrorSection =
    "Orders Database Error Information\r\n"
    "=====================\r\n\r\n"
    "Could not post the invoice.\r\n\r\n"
    "Current Time:\t2026-12-07 09:30:05\r\n"
    "Error Number:\t3604\r\n"
    "Error Procedure:\tCalc\r\n"
    "Error Line:\t120\r\n"
    "Error Description:\t" + kDriverErrors + "\r\n\r\n"
    "Procedure Stack\r\n-------------------\r\n"
    "01  Main\r\n"
    "02    Load\r\n"
    "03      Calc\r\n"
    "\r\n1st Param:\r\nName: \tInvoiceId\r\nType : \tLong\r\nValue: \t1042\r\n"
    "\r\n2nd Param:\r\nName: \tAmount\r\nType : \tCurrency\r\nValue: \t12.5\r\n"
    "\r\nCurrent Operation: Posting invoice 1042\r\n"
    "\r\nAdditional Information\r\n-------------------------\r\n"
    "Current Directory:\t/work\r\n"
    "Title:\t\tOrders\r\n"
    "Company Name:\tPalvenor Ltd\r\n"
    "Major:\t\t2\r\n"
    "Minor:\t\t0\r\n"
    "Revision:\t\t15\r\n"
    "Path:\t\t/srv/orders\r\n"
    "App Name:\tLedger";

const std::string kAppSection =
    "App. Information\r\n=============\r\n\r\n"
    "Title:\tOrders\r\n"
    "CompanyName:\tPalvenor Ltd\r\n"
    "Major:\t2\r\n"
    "Minor:\t0\r\n"
    "Revision:\t15\r\n"
    "Path:\t/srv/orders\r\n"
    "ProductName:\tLedger\r\n"
    "Comments:\tOrder entry\r\n"
    "ExeName:\tOrders\r\n"
    "File Description:\tOrders client\r\n"
    "Help File:\t\r\n"
    "Legal Copyright:\t(c) Palvenor\r\n"
    "Legal Trademarks:\t\r\n"
    "Log Mode:\t0\r\n"
    "Log Path:\t\r\n";

const std::string kSysSection =
    "System Information\r\n=============\r\n\r\n"
    "PLatform:\t\t\tWinNT\r\n"
    "Version:\t\t\t\t6.01\r\n"
    "Build:\t\t\t\t7601\r\n"
    "Service Pack:\t\t\t0\r\n"
    "CPU:\t\t\t\tIntel Pentium\r\n"
    "Total Physical Memory:\t\t523,776K\r\n"
    "Available Physical Memory:\t\t262,144K\r\n"
    "Total Virtual Memory:\t\t2,097,024K\r\n"
    "Available Virtual Memory:\t\t1,953,125K";

const std::string kDbSection =
    "Database Information\r\n==============\r\n\r\n"
    "ADO Version : 2.8\r\n"
    "Provider : MSDASQL.1\r\n"
    "Password : ********\r\n"
    "Extended Properties : DSN=Orders;UID=clerk;PWD=********;APP=Ledger\r\n"
    "Connect Timeout : 15\r\n"
    "Null Prop : \r\n";

TEST_F(Report, RealisticClientGetsEverySectionExactly) {
  realisticClient();
  ASSERT_EQ(handler.HandleError("Automation error", -2147217900, 120, "Could not post the invoice."), 0);
  EXPECT_EQ(handler.ErrorLogDisplay(), kErrorSection);
  EXPECT_EQ(handler.AppLogDisplay(), kAppSection);
  EXPECT_EQ(handler.SysLogDisplay(), kSysSection);
  EXPECT_EQ(handler.DbLogDisplay(), kDbSection);
  EXPECT_EQ(services.files.files["/logs/Error.log"], kErrorSection + "\r\n");
  EXPECT_TRUE(connection.errors->empty()) << "listed driver errors are cleared";
  const std::string everything = handler.ErrorLogDisplay() + handler.DbLogDisplay() +
                                 services.files.files["/logs/Error.log"];
  EXPECT_EQ(everything.find("hunter2"), std::string::npos);
  EXPECT_EQ(everything.find("s3cret"), std::string::npos);
}

TEST_F(Report, BareClientGetsHeadingsAndFacts) {
  onFreshThread([] {
    fake::Services s;
    s.files.folders.insert("/opt/quenvar");
    clsErrHandler h(s.platform);
    ASSERT_EQ(h.HandleError("Division by zero", 11), 0);
    EXPECT_EQ(h.ErrorLogDisplay(),
              "Application Error Information\r\n=====================\r\n\r\n"
              "Current Time:\t2026-12-07 09:30:05\r\nError Number:\t11\r\nError Procedure:\t\r\n"
              "Error Line:\t0\r\nError Description:\tDivision by zero\r\n\r\n"
              "Procedure Stack\r\n-------------------\r\n")
        << "no parameter text at all: nothing was ever pushed on this thread";
    EXPECT_EQ(h.AppLogDisplay(), "App. Information\r\n=============\r\n\r\n");
    EXPECT_EQ(h.DbLogDisplay(), "Database Information\r\n==============\r\n\r\n");
    EXPECT_EQ(h.SysLogDisplay(), kSysSection);
    EXPECT_EQ(s.files.files["/opt/quenvar/Error.log"], h.ErrorLogDisplay() + "\r\n");
  });
}

TEST_F(Report, FailingMembersDropExactlyTheirLines) {
  realisticClient();
  auto app = application();
  app->remove("LogMode").remove("CompanyName");
  handler.AppObject(app);
  (*connection.properties)[3] = object();  // a property without Name or Value
  handler.HandleError("Automation error", -2147217900, 120, "Could not post the invoice.");

  std::string expectedApp = kAppSection;
  expectedApp.erase(expectedApp.find("Log Mode:\t0\r\n"), 13);
  expectedApp.erase(expectedApp.find("CompanyName:\tPalvenor Ltd\r\n"), 27);
  EXPECT_EQ(handler.AppLogDisplay(), expectedApp);
  std::string expectedError = kErrorSection;
  expectedError.erase(expectedError.find("Company Name:\tPalvenor Ltd\r\n"), 28);
  EXPECT_EQ(handler.ErrorLogDisplay(), expectedError);
  std::string expectedDb = kDbSection;
  expectedDb.erase(expectedDb.find("Connect Timeout : 15\r\n"), 22);
  EXPECT_EQ(handler.DbLogDisplay(), expectedDb);
}

}  // namespace
}  // namespace quenvar
