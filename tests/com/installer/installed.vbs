' The component as the package installed it: each class a client creates by its ProgID, the
' SysObj the handler hands out, and one handled error. It also stores a mail setting of the
' user's, which removing the package must leave alone.
Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
Dim m : Set m = CreateObject("Quenvar.MailSettings")
m.SMTPPort = 2525
Check "the stored mail setting", m.SMTPPort, 2525
Dim s : Set s = h.SysObject
Check "SysObject", s Is Nothing, False
Check "SysObj's platform", UCase(s.PlatForm), "WINNT"
h.Destination = folder
h.Push "PostInvoice"
h.AddParam "InvoiceId", "Long", 1042
Check "HandleError", h.HandleError("Disk full", 61, 12), 0
Check "Error.log written", fso.FileExists(folder & "\Error.log"), True
Check "the report names the error", InStr(h.ErrorLogDisplay, "Disk full") > 0, True
Check "the stack unwound", UBound(h.CallStack), 0
WScript.Echo "RESULT installed: " & failures & " failures"
WScript.Quit failures
