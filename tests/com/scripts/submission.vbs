' Reports sent from a script through a submission server with TLS and sign-in, set up through
' Quenvar.MailSettings; the runner reads the stored messages back.
'   cscript //nologo submission.vbs <scratch> <STARTTLS port> <TLS port> <CA file> <user> <password>
'#include mail_settings.vbs

Dim args : Set args = WScript.Arguments
Dim settings : Set settings = CreateObject("Quenvar.MailSettings")

Sub SentThrough(security, port, product)
  settings.SMTPPort = CLng(port)
  settings.SMTPSecurity = security
  settings.SMTPUserName = args(4)
  settings.SMTPPassword = args(5)
  settings.SMTPCAFile = args(3)
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim a : Set a = New App
  a.ProductName = product : a.Major = 1 : a.Minor = 2 : a.Revision = 3
  Set h.AppObject = a
  h.EmailType = 2
  h.EmailSettings = True
  Stored "ShowEmlScre", "1"
  h.SMTPMailServer = "127.0.0.1"
  h.FromName = "Orders"
  h.FromEmailAddress = args(4)
  h.EmailAddress = "ops@example.com"
  h.ToName = "Operations"
  On Error Resume Next
  h.TransmitMail "report sent by " & product
  CheckErr "TransmitMail " & product, 0, "", ""
  On Error GoTo 0
End Sub

SentThrough 1, args(1), "SubmissionStartTls"
SentThrough 2, args(2), "SubmissionImplicitTls"
' The classic session again for every later test of this prefix.
settings.SMTPSecurity = 0
settings.SMTPPort = 25
settings.SMTPUserName = ""
settings.SMTPPassword = ""
settings.SMTPCAFile = ""
WScript.Echo "RESULT submission: " & failures & " failures"
WScript.Quit failures
