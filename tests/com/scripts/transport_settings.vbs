' The SMTP transport settings through Quenvar.MailSettings: what the COM boundary adds to the
' settings logic (creation by ProgID, values and errors as a script sees them, the write-only
' password) and where the values land in the user's registry.
'   cscript //nologo transport_settings.vbs <scratch folder>
Dim shell : Set shell = CreateObject("WScript.Shell")
Const Settings = "HKCU\Software\VB and VBA Program Settings\Palvenor\ErrHandler\"
Const Secrets = "HKCU\Software\Quenvar\Secrets\Palvenor\"
Const Password = "s3cret app password"

' The registry value, or Empty when there is none.
Function Stored(key)
  Stored = Empty
  On Error Resume Next
  Stored = shell.RegRead(key)
  Err.Clear
End Function

Sub PutValue(s, name, v)
  Select Case name
    Case "SMTPPort" : s.SMTPPort = v
    Case "SMTPSecurity" : s.SMTPSecurity = v
    Case "SMTPUserName" : s.SMTPUserName = v
    Case "SMTPCAFile" : s.SMTPCAFile = v
  End Select
End Sub

Function GetValue(s, name)
  Select Case name
    Case "SMTPPort" : GetValue = s.SMTPPort
    Case "SMTPSecurity" : GetValue = s.SMTPSecurity
    Case "SMTPUserName" : GetValue = s.SMTPUserName
    Case "SMTPCAFile" : GetValue = s.SMTPCAFile
  End Select
End Function

' Each property written, read back from the same object and another one, and found as text in
' the user's settings.
Sub WrittenAndReadBack()
  Dim s : Set s = CreateObject("Quenvar.MailSettings")
  Dim cases : cases = Array( _
    Array("SMTPPort", 587, "587"), Array("SMTPPort", 65535, "65535"), Array("SMTPSecurity", 2, "2"), _
    Array("SMTPSecurity", 1, "1"), Array("SMTPUserName", "ops@example.com", "ops@example.com"), _
    Array("SMTPCAFile", "C:\certs\corporate ca.pem", "C:\certs\corporate ca.pem"))
  Dim c, other
  For Each c In cases
    PutValue s, c(0), c(1)
    Check c(0) & " = " & c(1) & " read back", GetValue(s, c(0)), c(1)
    Set other = CreateObject("Quenvar.MailSettings")
    Check c(0) & " = " & c(1) & " from another object", GetValue(other, c(0)), c(1)
    Check c(0) & " = " & c(1) & " in the registry", Stored(Settings & c(0)), c(2)
  Next
End Sub

' Out of range: 380 with its description, as the component raises, and nothing stored.
Sub Refused()
  Dim s : Set s = CreateObject("Quenvar.MailSettings")
  s.SMTPPort = 2525
  s.SMTPSecurity = 1
  Dim cases : cases = Array(Array("SMTPPort", 0, 2525), Array("SMTPPort", 65536, 2525), _
    Array("SMTPPort", -25, 2525), Array("SMTPSecurity", 3, 1), Array("SMTPSecurity", -1, 1))
  Dim c
  For Each c In cases
    On Error Resume Next
    PutValue s, c(0), c(1)
    CheckErr c(0) & " = " & c(1), 380, "Quenvar", "Invalid property value"
    On Error GoTo 0
    Check c(0) & " = " & c(1) & " left the value", GetValue(s, c(0)), c(2)
    Check c(0) & " = " & c(1) & " left the registry", Stored(Settings & c(0)), CStr(c(2))
  Next
End Sub

' Whether the bytes hold the password in clear, as ANSI or UTF-16 text.
Function InClear(bytes)
  Dim b, i, text, wide
  For Each b In bytes
    text = text & Chr(b)
  Next
  For i = 1 To Len(Password)
    wide = wide & Mid(Password, i, 1) & Chr(0)
  Next
  InClear = InStr(text, Password) > 0 Or InStr(text, wide) > 0
End Function

Sub WriteOnlyPassword()
  Dim s : Set s = CreateObject("Quenvar.MailSettings")
  Dim unknown, readBack, number
  On Error Resume Next
  s.SMTPPassword = Password
  CheckErr "SMTPPassword written", 0, "", ""
  unknown = s.NoSuchMember
  number = Err.Number
  Err.Clear
  readBack = s.SMTPPassword
  Check "reading SMTPPassword fails as an unknown member does", Err.Number, number
  Check "an unknown member fails", number <> 0, True
  Err.Clear
  On Error GoTo 0
  Check "nothing read back", IsEmpty(readBack), True

  Check "no password beside the settings", IsEmpty(Stored(Settings & "SMTPPassword")), True
  Dim kept : kept = Stored(Secrets & "SMTPPassword")
  Check "the password kept as bytes", VarType(kept), vbArray + vbVariant
  If IsArray(kept) Then Check "the kept password in clear", InClear(kept), False

  s.SMTPPassword = ""
  Check "an empty password removes it", IsEmpty(Stored(Secrets & "SMTPPassword")), True
End Sub

' The settings as the other tests of the user's mail settings expect them.
Sub Restore()
  Dim s : Set s = CreateObject("Quenvar.MailSettings")
  s.SMTPUserName = ""
  s.SMTPSecurity = 0
  s.SMTPPort = 25
  s.SMTPCAFile = ""
  s.SMTPPassword = ""
  Check "restored", Stored(Settings & "SMTPPort") & " " & Stored(Settings & "SMTPSecurity") & " [" & _
    Stored(Settings & "SMTPUserName") & "]", "25 0 []"
End Sub

' A runtime error inside a step ends that step alone: the settings are restored whatever happens.
On Error Resume Next
WrittenAndReadBack
CheckErr "WrittenAndReadBack ran to its end", 0, "", ""
Refused
CheckErr "Refused ran to its end", 0, "", ""
WriteOnlyPassword
CheckErr "WriteOnlyPassword ran to its end", 0, "", ""
Restore
CheckErr "Restore ran to its end", 0, "", ""
On Error GoTo 0
WScript.Echo "RESULT transport_settings: " & failures & " failures"
WScript.Quit failures
