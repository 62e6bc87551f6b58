' A report sent through a server whose certificate copies the trusted CA's subject and serial
' number: the session must end in the handshake. The runner reads the message the user was shown
' and what the server received.
'   cscript //nologo forged_root.vbs <scratch> <TLS port> <CA file> <user> <password>
'#include mail_settings.vbs

Dim args : Set args = WScript.Arguments
Dim settings : Set settings = CreateObject("Quenvar.MailSettings")
SecureTransport settings, 2, args(1), args(3), args(4), args(2)
Dim h : Set h = SmtpHandler("ForgedRoot", args(3))
On Error Resume Next
h.TransmitMail "report for an impostor"
CheckErr "TransmitMail", 0, "", ""
On Error GoTo 0
ClassicTransport settings
WScript.Echo "RESULT forged_root: " & failures & " failures"
WScript.Quit failures
