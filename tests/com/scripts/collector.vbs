' Quenvar.Collector from a script: its settings are the process's, its refusals are the
' automation errors a client handles, and a handled error with the application's and the
' connection's facts reaches the collector. The runner reads what the collector received.
'   cscript //nologo collector.vbs <scratch> <DSN of a collector that takes reports>
'#include client_objects.vbs

Dim args : Set args = WScript.Arguments
Dim c : Set c = CreateObject("Quenvar.Collector")

Class Connection
  Public ConnectionString
  Public Version
  Public Provider
  Public Properties
  Public Errors
End Class

Check "no DSN yet", c.Dsn, ""
Check "environment", c.Environment, "production"
Check "consent without a collector", c.Consent, 0
On Error Resume Next
c.Consent = 1
CheckErr "consent without a collector", 5, "Quenvar", "Invalid procedure call or argument"
c.Dsn = "ftp://nowhere"
CheckErr "a malformed DSN", 380, "Quenvar", "Invalid property value"
On Error GoTo 0
Check "unchanged by a refusal", c.Dsn, ""
Check "nothing to flush", c.Flush(100), 0

c.Dsn = args(1)
Check "shared by every instance", CreateObject("Quenvar.Collector").Dsn, args(1)
On Error Resume Next
c.Consent = 7
CheckErr "a consent out of range", 380, "Quenvar", "Invalid property value"
On Error GoTo 0

Dim a : Set a = New Application
a.Title = "Orders" : a.Major = 2 : a.Minor = 0 : a.Revision = 15 : a.ProductName = "Ledger"
Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
h.Destination = folder
Set h.AppObject = a
Dim cn : Set cn = New Connection
cn.ConnectionString = "Provider=MSDASQL.1;DSN=Orders;UID=clerk;PWD=hunter2"
cn.Version = "2.8" : cn.Provider = "MSDASQL.1"
Set cn.Properties = New Collection
cn.Properties.Add Prop("Provider", "MSDASQL.1")
cn.Properties.Add Prop("Password", "hunter2")
cn.Properties.Add Prop("Extended Properties", "DSN=Orders;UID=clerk;PWD=hunter2")
Set cn.Errors = New Collection
Set h.Cn = cn
h.Push "Main"
h.AddParam "Mode", "String", "batch"
h.Push "PostInvoice"
h.AddParam "InvoiceId", "Long", 1042
h.AddParam "Password", "String", "hunter2"
Check "HandleError", h.HandleError("Could not post", 1042, 30), 0
Check "an event id", Len(c.LastEventId), 32
Check "sent", c.Flush(10000), 0
Check "no failure", c.LastError, ""
WScript.Echo "EVENT " & c.LastEventId
WScript.Echo "RESULT collector: " & failures & " failures"
WScript.Quit failures
