' Reports sent from a script through a submission server with TLS and sign-in, set up through
' Quenvar.MailSettings; the runner reads the stored messages back.
'   cscript //nologo submission.vbs <scratch> <STARTTLS port> <TLS port> <CA file> <user> <password>
'#include mail_settings.vbs

Dim args : Set args = WScript.Arguments
Dim settings : Set settings = CreateObject("Quenvar.MailSettings")

Sub SentThrough(security, port, product)
  SecureTransport settings, security, port, args(4), args(5), args(3)
  Dim h : Set h = SmtpHandler(product, args(4))
  On Error Resume Next
  h.TransmitMail "report sent by " & product
  CheckErr "TransmitMail " & product, 0, "", ""
  On Error GoTo 0
End Sub

SentThrough 1, args(1), "SubmissionStartTls"
SentThrough 2, args(2), "SubmissionImplicitTls"
ClassicTransport settings
WScript.Echo "RESULT submission: " & failures & " failures"
WScript.Quit failures
