' A report sent along the Outlook route from a script client; the wrapper reads what the
' "Outlook.Application" in the prefix received.
'   cscript //nologo outlook.vbs <scratch folder>
'#include mail_settings.vbs

Function ReadBack(name)
  On Error Resume Next
  ReadBack = shell.RegRead(Key & "\" & name)
  If Err.Number <> 0 Then ReadBack = "<unreadable>"
  Err.Clear
End Function

Sub SentThroughOutlook()
  ' Locked settings send without asking, on whatever the flag last said: it must say send.
  Stored "EmailFlag", "True"
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim a : Set a = New App
  a.ProductName = "OutlookSuite" : a.Major = 4 : a.Minor = 5 : a.Revision = 6
  Set h.AppObject = a
  h.EmailType = 0
  h.EmailSettings = False
  h.EmailAddress = "ops@example.com"
  On Error Resume Next
  h.TransmitMail "the report"
  ' Success or not, the route reports by message box, never to the caller.
  CheckErr "TransmitMail", 0, "", ""
  On Error GoTo 0
  Check "EmailFlag left as stored", ReadBack("EmailFlag"), "True"
End Sub

SentThroughOutlook
WScript.Echo "RESULT outlook: " & failures & " failures"
WScript.Quit failures
