' A report sent by SMTP from a script client; the runner reads the stored message afterwards.
'   cscript //nologo mail.vbs <scratch folder>
'#include mail_settings.vbs

Sub SentBySmtp()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim a : Set a = New App
  a.ProductName = "MailSuite" : a.Major = 1 : a.Minor = 2 : a.Revision = 3
  Set h.AppObject = a
  h.EmailType = 2
  h.EmailSettings = True
  ' Settings already confirmed: no dialog before sending.
  Stored "ShowEmlScre", "1"
  h.SMTPMailServer = "127.0.0.1"
  h.FromName = "Orders"
  h.FromEmailAddress = "orders@example.com"
  h.EmailAddress = "ops@example.com"
  h.ToName = "Operations"
  On Error Resume Next
  h.TransmitMail "first report line" & vbCrLf & "." & vbCrLf & "last report line"
  CheckErr "TransmitMail", 0, "", ""
  On Error GoTo 0
End Sub

' Without a window system the settings dialog cannot show: the caller hears why.
Sub SettingsDialogHeadless()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  On Error Resume Next
  h.ChangeEmailSettings
  CheckErr "ChangeEmailSettings", 5, "Quenvar", "No window system is available to show the dialog"
  On Error GoTo 0
End Sub

SentBySmtp
SettingsDialogHeadless
WScript.Echo "RESULT mail: " & failures & " failures"
WScript.Quit failures
