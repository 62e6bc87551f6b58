' The default-mail-client route: TransmitMail opens a "mailto:" link; the wrapper reads what the
' registered protocol handler received.
'   cscript //nologo mailto.vbs <scratch folder> short|long
'#include mail_settings.vbs

Sub OpenedInMailClient(productName)
  ' Earlier suites may leave the flag False, which sends nothing at all.
  Stored "EmailFlag", "True"
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim a : Set a = New App
  a.ProductName = productName : a.Major = 2 : a.Minor = 5 : a.Revision = 11
  Set h.AppObject = a
  h.EmailType = 1
  ' Locked: no settings dialog, which cannot show here anyway.
  h.EmailSettings = False
  h.EmailAddress = "ops@example.com"
  Check "EmailType read back", h.EmailType, 1
  On Error Resume Next
  h.TransmitMail "report"
  CheckErr "TransmitMail", 0, "", ""
  On Error GoTo 0
End Sub

Dim mode : mode = "short"
If WScript.Arguments.Count > 1 Then mode = WScript.Arguments(1)
If mode = "long" Then
  ' Encoded, each piece takes 18 characters: 30 of them put the link well past 400.
  Dim name, i
  name = ""
  For i = 1 To 30
    name = name & "A&B #C? "
  Next
  OpenedInMailClient name & "End"
Else
  OpenedInMailClient "Fish & Chips #1? Deluxe"
End If
WScript.Echo "RESULT mailto: " & failures & " failures"
WScript.Quit failures
