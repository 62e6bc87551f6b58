' E-mail properties through the real component and the user's registry.
'   cscript //nologo email.vbs <scratch folder>
Dim shell : Set shell = CreateObject("WScript.Shell")
Const Key = "HKCU\Software\VB and VBA Program Settings\Palvenor"

Function Stored(name)
  Stored = shell.RegRead(Key & "\ErrHandler\" & name)
End Function

' The script host cannot delete registry keys here: reg.exe does.
Sub NeverWritten()
  shell.Run "reg.exe delete """ & Key & """ /f", 0, True
  On Error Resume Next
  Stored "EmailType"
  Check "key gone", Err.Number <> 0, True
  Err.Clear
  On Error GoTo 0
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Check "EmailType unwritten", h.EmailType, 0
  Check "EmailSettings unwritten", h.EmailSettings, True
End Sub

Sub WrittenAndReadBack()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  h.EmailType = 2
  h.EmailSettings = False
  h.SMTPMailServer = "smtp.example.com"
  Check "EmailType in the registry", Stored("EmailType"), "2"
  Check "EmailSettings in the registry", Stored("EmailSettings"), "False"
  Check "SMTPMailServer in the registry", Stored("SMTPMailServer"), "smtp.example.com"
  Dim other : Set other = CreateObject("Quenvar.clsErrHandler")
  Check "EmailType from another handler", other.EmailType, 2
  Check "EmailSettings from another handler", other.EmailSettings, False

  ' Read from the registry on every call.
  shell.RegWrite Key & "\ErrHandler\EmailSettings", " true ", "REG_SZ"
  Check "EmailSettings written by others", other.EmailSettings, True
  shell.RegWrite Key & "\ErrHandler\EmailType", "1", "REG_SZ"
  Check "EmailType written by others", other.EmailType, 1
  shell.RegWrite Key & "\ErrHandler\EmailType", "SMTP", "REG_SZ"
  On Error Resume Next
  Dim t : t = other.EmailType
  CheckErr "EmailType not a number", 13, "Quenvar", "Type mismatch"
  On Error GoTo 0
End Sub

Sub Addresses()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  On Error Resume Next
  h.EmailAddress = "mailto:ops@example.com;mailto:dba@example.com"
  CheckErr "EmailAddress", 0, "", ""
  h.FromEmailAddress = "MAILTO:mailto:me@example.com"
  CheckErr "FromEmailAddress", 0, "", ""
  h.ToName = "Operations"
  CheckErr "ToName", 0, "", ""
  h.FromName = "Orders"
  CheckErr "FromName", 0, "", ""
  On Error GoTo 0
End Sub

NeverWritten
WrittenAndReadBack
Addresses
WScript.Echo "RESULT email: " & failures & " failures"
WScript.Quit failures
