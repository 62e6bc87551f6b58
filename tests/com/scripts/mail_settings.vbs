' What the mail suites share: the user's mail settings and a minimal application object.
Dim shell : Set shell = CreateObject("WScript.Shell")
Const Key = "HKCU\Software\VB and VBA Program Settings\Palvenor\ErrHandler"

Class App
  Public ProductName
  Public Major
  Public Minor
  Public Revision
End Class

Sub Stored(name, value)
  Check "reg.exe add " & name, shell.Run("reg.exe add """ & Key & """ /v " & name & " /d " & value & " /f", 0, True), 0
End Sub

' The user's transport settings for a secure session, and back to the classic session that every
' later test of the prefix expects.
Sub SecureTransport(settings, security, port, user, password, caFile)
  settings.SMTPPort = CLng(port)
  settings.SMTPSecurity = security
  settings.SMTPUserName = user
  settings.SMTPPassword = password
  settings.SMTPCAFile = caFile
End Sub

Sub ClassicTransport(settings)
  SecureTransport settings, 0, 25, "", "", ""
End Sub

' A handler of product 1.2.3 that mails through the SMTP session to 127.0.0.1.
Function SmtpHandler(product, sender)
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim a : Set a = New App
  a.ProductName = product : a.Major = 1 : a.Minor = 2 : a.Revision = 3
  Set h.AppObject = a
  h.EmailType = 2
  h.EmailSettings = True
  Stored "ShowEmlScre", "1"
  h.SMTPMailServer = "127.0.0.1"
  h.FromName = "Orders"
  h.FromEmailAddress = sender
  h.EmailAddress = "ops@example.com"
  h.ToName = "Operations"
  Set SmtpHandler = h
End Function
