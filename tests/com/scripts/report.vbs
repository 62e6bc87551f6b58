' HandleError end to end through the real component, with a script application and connection.
'   cscript //nologo report.vbs <scratch folder>
'#include client_objects.vbs

Class DriverError
  Public NativeError
  Public Description
  Public Source
  Public SQLState
  Public Number
End Class

Class Connection
  Public ConnectionString
  Public Version
  Public Properties
  Public Errors
End Class

' Literal text with \t and \n written out; paths are appended outside it.
Function T(text)
  T = Replace(Replace(text, "\t", vbTab), "\n", vbCrLf)
End Function

' Time, directory and memory vary from run to run: each must be there, its value becomes "*".
Function Masked(text)
  Dim re : Set re = New RegExp
  re.Global = True
  re.Pattern = "(Current Time:\t|Current Directory:\t|Memory:\t\t)[^\r\n]+"
  Masked = re.Replace(text, "$1*")
End Function

Function FileText(path)
  If fso.FileExists(path) Then FileText = fso.OpenTextFile(path, 1).ReadAll Else FileText = "<missing>"
End Function

Function Names(h)
  Dim stack, i : stack = h.CallStack
  For i = LBound(stack) To UBound(stack)
    Names = Names & "|" & stack(i)
  Next
End Function

Function Failure(native, description, source, state, number)
  Set Failure = New DriverError
  Failure.NativeError = native : Failure.Description = description : Failure.Source = source
  Failure.SQLState = state : Failure.Number = number
End Function

Function Handler(subfolder)
  Set Handler = CreateObject("Quenvar.clsErrHandler")
  Handler.Destination = folder & "\" & subfolder
End Function

Function SystemSection()
  Dim cpu : cpu = "Intel Pentium"
  If CreateObject("WScript.Shell").Environment("PROCESS")("QUENVAR_ARCH") = "win64" Then cpu = "(unknown)"
  SystemSection = T("System Information\n=============\n\nPLatform:\t\t\tWinNT\nVersion:\t\t\t\t6.01\n" & _
    "Build:\t\t\t\t7601\nService Pack:\t\t\t0\nCPU:\t\t\t\t" & cpu & "\nTotal Physical Memory:\t\t*\n" & _
    "Available Physical Memory:\t\t*\nTotal Virtual Memory:\t\t*\nAvailable Virtual Memory:\t\t*")
End Function

' First: nothing has been pushed on this thread yet, so there is no parameter text at all.
Sub BareClient()
  Dim h : Set h = Handler("bare")
  Check "status", h.HandleError("Division by zero", 11), 0
  Check "Error Information", Masked(h.ErrorLogDisplay), T("Application Error Information\n" & _
    "=====================\n\nCurrent Time:\t*\nError Number:\t11\nError Procedure:\t\nError Line:\t0\n" & _
    "Error Description:\tDivision by zero\n\nProcedure Stack\n-------------------\n")
  Check "App. Information", h.AppLogDisplay, T("App. Information\n=============\n\n")
  Check "Database Information", h.DbLogDisplay, T("Database Information\n==============\n\n")
  Check "System Information", Masked(h.SysLogDisplay), SystemSection()
  Check "Error.log", FileText(folder & "\bare\Error.log"), h.ErrorLogDisplay & vbCrLf
End Sub

Sub RealisticClient()
  Dim app : Set app = New Application
  app.Title = "Orders" : app.CompanyName = "Palvenor Ltd" : app.Major = 2 : app.Minor = 0
  app.Revision = 15 : app.Path = folder : app.ProductName = "Ledger" : app.Comments = "Order entry"
  app.EXEName = "Orders" : app.FileDescription = "Orders client" : app.HelpFile = ""
  app.LegalCopyright = "(c) Palvenor" : app.LegalTrademarks = "" : app.LogMode = 0 : app.LogPath = ""
  Dim cn : Set cn = New Connection
  cn.ConnectionString = "Provider=MSDASQL.1;DSN=Orders;UID=clerk;PWD=s3cret"
  cn.Version = "2.8"
  Set cn.Properties = New Collection
  cn.Properties.Add Prop("Provider", "MSDASQL.1")
  cn.Properties.Add Prop("Password", "hunter2")
  cn.Properties.Add Prop("Extended Properties", "DSN=Orders;UID=clerk;PWD=s3cret;APP=Ledger")
  cn.Properties.Add Prop("Connect Timeout", 15)
  cn.Properties.Add Prop("Null Prop", Null)
  Set cn.Errors = New Collection
  cn.Errors.Add Failure(1205, "[Microsoft][ODBC SQL Server Driver][SQL Server]Transaction (Process ID 52) was deadlocked", _
    "Microsoft OLE DB Provider for ODBC Drivers", "40001", -2147467259)
  cn.Errors.Add Failure(3621, "[Microsoft][ODBC SQL Server Driver][SQL Server]The statement has been terminated.", _
    "Microsoft OLE DB Provider for ODBC Drivers", "01000", -2147217900)

  Dim h : Set h = Handler("realistic")
  Set h.AppObject = app
  Set h.Cn = cn
  h.CurrentOperation = "Posting invoice 1042"
  h.Push "Main"
  h.Push "Load"
  h.Push "Calc"
  h.AddParam "InvoiceId", "Long", 1042
  h.AddParam "Amount", "Currency", CCur(12.5)
  Check "status", h.HandleError("Automation error", -2147217900, 120, "Could not post the invoice."), 0

  Dim driverErrors : driverErrors = T("\nDATABASE ERROR MESSAGE(S)\n\n" & _
    "DB ERROR 1\tNative DB ERR#: 1205\n" & _
    "DESCRIPTION:\tDatabase Error: Transaction (Process ID 52) was deadlocked\n" & _
    "SOURCE:\t\tMicrosoft OLE DB Provider for ODBC Drivers\nSQL STATE:\t40001\n" & _
    "ERROR:\t\t-245755 (-2147467259)\n" & _
    "DB ERROR 2\tNative DB ERR#: 3621\n" & _
    "DESCRIPTION:\tDatabase Error: The statement has been terminated.\n" & _
    "SOURCE:\t\tMicrosoft OLE DB Provider for ODBC Drivers\nSQL STATE:\t01000\n" & _
    "ERROR:\t\t3604 (-2147217900)")
  Check "ErrNum rebased", h.ErrNum, 3604
  Check "ErrorType", h.ErrorType, "1"
  Check "ErrDesc", h.ErrDesc, driverErrors
  Check "ProcName", h.ProcName, "Calc"
  Check "ErrLine", h.ErrLine, "120"
  Check "CustomErrMessage", h.CustomErrMessage, "Could not post the invoice."
  Check "Error Information", Masked(h.ErrorLogDisplay), T("Orders Database Error Information\n" & _
    "=====================\n\nCould not post the invoice.\n\nCurrent Time:\t*\n" & _
    "Error Number:\t3604\nError Procedure:\tCalc\nError Line:\t120\nError Description:\t") & driverErrors & _
    T("\n\nProcedure Stack\n-------------------\n01  Main\n02    Load\n03      Calc\n" & _
    "\n1st Param:\nName: \tInvoiceId\nType : \tLong\nValue: \t1042\n" & _
    "\n2nd Param:\nName: \tAmount\nType : \tCurrency\nValue: \t") & CStr(CCur(12.5)) & _
    T("\n\nCurrent Operation: Posting invoice 1042\n" & _
    "\nAdditional Information\n-------------------------\nCurrent Directory:\t*\n" & _
    "Title:\t\tOrders\nCompany Name:\tPalvenor Ltd\nMajor:\t\t2\nMinor:\t\t0\nRevision:\t\t15\nPath:\t\t") & _
    folder & T("\nApp Name:\tLedger")
  Check "App. Information", h.AppLogDisplay, T("App. Information\n=============\n\n" & _
    "Title:\tOrders\nCompanyName:\tPalvenor Ltd\nMajor:\t2\nMinor:\t0\nRevision:\t15\nPath:\t") & folder & _
    T("\nProductName:\tLedger\nComments:\tOrder entry\nExeName:\tOrders\nFile Description:\tOrders client\n" & _
    "Help File:\t\nLegal Copyright:\t(c) Palvenor\nLegal Trademarks:\t\nLog Mode:\t0\nLog Path:\t\n")
  Check "Database Information", h.DbLogDisplay, T("Database Information\n==============\n\n" & _
    "ADO Version : 2.8\nProvider : MSDASQL.1\nPassword : ********\n" & _
    "Extended Properties : DSN=Orders;UID=clerk;PWD=********;APP=Ledger\nConnect Timeout : 15\nNull Prop : \n")
  Check "System Information", Masked(h.SysLogDisplay), SystemSection()
  Dim logText : logText = FileText(folder & "\realistic\Error.log")
  Check "Error.log", logText, h.ErrorLogDisplay & vbCrLf
  Check "no password anywhere", InStr(h.ErrorLogDisplay & h.DbLogDisplay & logText, "hunter2") + _
    InStr(h.ErrorLogDisplay & h.DbLogDisplay & logText, "s3cret"), 0
  Check "driver errors cleared", cn.Errors.Count, 0
  Check "stack emptied", Names(h), "|"
  Check "Pop afterwards", h.Pop, 0

  ' The database heading stays; with no driver errors left only the driver prefix goes.
  Check "later status", h.HandleError("[Microsoft][ODBC SQL Server Driver][SQL Server]Timeout expired", 5), 0
  Check "later ErrDesc", h.ErrDesc, "Database Error: Timeout expired"
  Check "later ErrNum", h.ErrNum, 5
  Check "later ErrorType", h.ErrorType, "1"
  Check "later heading", Left(h.ErrorLogDisplay, 35), T("Orders Database Error Information\n")
  Check "Error.log holds the latest only", FileText(folder & "\realistic\Error.log"), h.ErrorLogDisplay & vbCrLf
End Sub

Sub NumberZeroStoresOnlyTheArguments()
  Dim h : Set h = Handler("zero")
  h.Push "Main"
  Check "status", h.HandleError("nothing", 0, 12, "note"), 0
  Check "ErrLine", h.ErrLine, "12"
  Check "CustomErrMessage", h.CustomErrMessage, "note"
  Check "ErrDesc", h.ErrDesc, "nothing"
  Check "ErrNum", h.ErrNum, 0
  Check "untouched", h.ProcName & h.ErrorLogDisplay & h.ErrorType, "0"
  Check "stack kept", Names(h), "||Main"
  Check "no Error.log", fso.FileExists(folder & "\zero\Error.log"), False
  h.Pop
End Sub

Sub NumbersAndArguments()
  Dim h : Set h = Handler("numbers")
  Check "2.5 status", h.HandleError("first", 2.5), 0
  Check "2.5 rounds to even", h.ErrNum, 2
  Check "3.5 status", h.HandleError("second", 3.5), 0
  Check "3.5 rounds to even", h.ErrNum, 4
  ' Overflow: the arguments before the number are stored, the rest not.
  Check "1e10 status", h.HandleError("too big", 1e10, 7, "custom"), 6
  Check "1e10 ErrLine", h.ErrLine, "7"
  Check "1e10 CustomErrMessage", h.CustomErrMessage, "custom"
  Check "1e10 ErrNum", h.ErrNum, 4
  Check "1e10 ErrDesc", h.ErrDesc, "second"
  Check "line 40000 status", h.HandleError("long line", 5, 40000, "other"), 6
  Check "line 40000 CustomErrMessage", h.CustomErrMessage, "custom"

  h.HandleError "d", 5, 9, "x"
  Check "optionals omitted", h.HandleError("d", 5), 0
  Check "omitted line", h.ErrLine, "0"
  Check "omitted message", h.CustomErrMessage, ""
  Check "middle omitted", h.HandleError("d", 5, , "msg"), 0
  Check "middle omitted line", h.ErrLine, "0"
  Check "middle omitted message", h.CustomErrMessage, "msg"
End Sub

BareClient
RealisticClient
NumberZeroStoresOnlyTheArguments
NumbersAndArguments
WScript.Echo "RESULT report: " & failures & " failures"
WScript.Quit failures
