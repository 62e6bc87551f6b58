' Shared by every suite: the runner puts it in front of the suite, as the script host has no
' include. The suite gets its scratch folder as the first argument.
Option Explicit
Dim failures : failures = 0
Dim folder : folder = WScript.Arguments(0)
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")

Function Shown(v)
  If IsObject(v) Or IsArray(v) Or IsNull(v) Or IsEmpty(v) Then
    Shown = "<" & TypeName(v) & ">"
  Else
    Shown = "[" & Replace(Replace(Replace(CStr(v), vbCr, "\r"), vbLf, "\n"), vbTab, "\t") & "] " & TypeName(v)
  End If
End Function

' Numbers compare with numbers only: "0" must not pass for 0.
Function Kind(v)
  Kind = VarType(v)
  If Kind = vbInteger Or Kind = vbLong Or Kind = vbSingle Or Kind = vbCurrency Or Kind = vbByte Then Kind = vbDouble
End Function

Sub Check(name, actual, expected)
  Dim ok, i
  ok = (Kind(actual) = Kind(expected))
  If ok Then ok = (actual = expected)
  If ok Then Exit Sub
  failures = failures + 1
  WScript.Echo "FAIL " & name & ": got " & Shown(actual) & ", want " & Shown(expected)
  If VarType(actual) = vbString And VarType(expected) = vbString Then
    For i = 1 To Len(expected)
      If Mid(actual, i, 1) <> Mid(expected, i, 1) Then Exit For
    Next
    WScript.Echo "  first difference at character " & i
  End If
End Sub

' Reads the error of the statement before, then clears it.
Sub CheckErr(name, number, source, description)
  Dim n, s, d
  n = Err.Number : s = Err.Source : d = Err.Description
  Err.Clear
  Check name & ": Err.Number", n, number
  If number <> 0 Then
    Check name & ": Err.Source", s, source
    Check name & ": Err.Description", d, description
  End If
End Sub
