' A database client in miniature, as a script: it hands the handler its application object and
' connection, records where it is, and lets the handler report a failed posting.
'   cscript //nologo demo_client.vbs <log folder>
Option Explicit

Class NamedValue
  Public Name
  Public Value
End Class

Class DriverError
  Public NativeError
  Public Description
  Public Source
  Public SQLState
  Public Number
End Class

' A 0-based collection as the connection's Properties and Errors are.
Class Collection
  Private items
  Private size
  Private Sub Class_Initialize()
    ReDim items(16)
    size = 0
  End Sub
  Public Sub Add(item)
    Set items(size) = item
    size = size + 1
  End Sub
  Public Property Get Count()
    Count = size
  End Property
  Public Function Item(index)
    Set Item = items(index)
  End Function
  Public Sub Clear()
    size = 0
  End Sub
  Public Sub Refresh()
  End Sub
End Class

Class Connection
  Public ConnectionString
  Public Version
  Public Properties
  Public Errors
End Class

Class Application
  Public Title
  Public CompanyName
  Public Major
  Public Minor
  Public Revision
  Public Path
  Public ProductName
  Public Comments
  Public EXEName
  Public FileDescription
  Public HelpFile
  Public LegalCopyright
  Public LegalTrademarks
  Public LogMode
  Public LogPath
End Class

Function Prop(name, value)
  Set Prop = New NamedValue
  Prop.Name = name
  Prop.Value = value
End Function

Dim folder : folder = WScript.Arguments(0)

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
cn.Properties.Add Prop("Password", "s3cret")
cn.Properties.Add Prop("Extended Properties", "DSN=Orders;UID=clerk;PWD=s3cret")
cn.Properties.Add Prop("Connect Timeout", 15)
Set cn.Errors = New Collection
Dim e : Set e = New DriverError
e.NativeError = 2627
e.Description = "[Microsoft][ODBC SQL Server Driver][SQL Server]Violation of PRIMARY KEY constraint 'PK_Invoice'."
e.Source = "Microsoft OLE DB Provider for ODBC Drivers"
e.SQLState = "23000"
e.Number = -2147217873
cn.Errors.Add e

Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
h.Destination = folder
Set h.AppObject = app
Set h.Cn = cn
h.TraceExecution = True
h.CurrentOperation = "Posting invoice 1042"

h.Push "Main"
h.Push "LoadInvoices"
h.Push "PostInvoice"
Dim invoiceId : invoiceId = 1042
h.AddParam "InvoiceId", "Long", invoiceId
h.AddParam "Amount", "Currency", CCur(125.5)

Dim status : status = h.HandleError("Automation error", -2147217873, 120, "The invoice could not be posted.")

WScript.Echo h.ErrorLogDisplay
WScript.Echo ""
WScript.Echo h.AppLogDisplay
WScript.Echo h.SysLogDisplay
WScript.Echo ""
WScript.Echo h.DbLogDisplay
WScript.Echo "[client] HandleError returned " & status & "; Error.log is in " & h.Destination
WScript.Quit status
