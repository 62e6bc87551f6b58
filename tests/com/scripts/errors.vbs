' Failures as a script reads them from the real component: Err.Number, Err.Source, Err.Description.
'   cscript //nologo errors.vbs <scratch folder>

Class Connection
  Public ConnectionString
  Public Version
End Class

Class PartialApplication
  Public ProductName
  Public Major
  Public Minor
End Class

Class NoMembers
End Class

' Two handlers of one thread share the parameter table: the second's Pop cuts it below the first.
Sub SharedParameterTable()
  Dim first : Set first = CreateObject("Quenvar.clsErrHandler")
  Dim second : Set second = CreateObject("Quenvar.clsErrHandler")
  first.Push "Outer"
  first.AddParam "Shared", "Long", 7
  second.Push "Other"
  Check "second sees the first's parameters", InStr(second.ShowParam, "Name: " & vbTab & "Shared") > 0, True
  first.Push "Inner"
  first.AddParam "Key", "Long", 8
  Check "second Pop", second.Pop, 0
  On Error Resume Next
  first.AddParam "Late", "Long", 9
  CheckErr "AddParam beyond the table", 9, "Quenvar", "Subscript out of range"
  Dim text : text = first.ShowParam
  CheckErr "ShowParam beyond the table", 9, "Quenvar", "Subscript out of range"
  Dim status : status = first.Pop
  CheckErr "Pop does not raise", 0, "", ""
  On Error GoTo 0
  Check "Pop status", status, 9
End Sub

Sub ConnectionAndApplication()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  Dim closed : Set closed = New Connection
  closed.ConnectionString = ""
  On Error Resume Next
  Set h.Cn = closed
  CheckErr "closed connection", -2147220502, "Vantrelo", "ADO connection must be open before passing to the Error Object"
  Set h.Cn = New NoMembers
  CheckErr "connection without ConnectionString", 438, "Quenvar", _
    "Object doesn't support this property or method: connectionstring"
  Set h.Cn = Nothing
  CheckErr "no connection", 91, "Quenvar", "Object variable or With block variable not set"
  Dim partial : Set partial = New PartialApplication
  partial.ProductName = "Ledger" : partial.Major = 2 : partial.Minor = 0
  Set h.AppObject = partial
  CheckErr "application without Revision", 438, "Quenvar", "Object doesn't support this property or method: Revision"
  On Error GoTo 0
End Sub

Sub FoldersAndLogs()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  On Error Resume Next
  h.Destination = folder & "\missing\child"
  CheckErr "Destination below a missing folder", 76, "Quenvar", "Path not found"
  Check "stored before the folder step", h.Destination, folder & "\missing\child"
  h.Destination = folder
  h.ShowErrorLog 3
  CheckErr "ShowErrorLog 3", 0, "", ""
  h.ShowErrorLog 0
  CheckErr "ShowErrorLog 0", 0, "", ""
  On Error GoTo 0
End Sub

' Status methods answer with a number; a bad argument still fails in the call itself.
Sub StatusesAndArguments()
  Dim h : Set h = CreateObject("Quenvar.clsErrHandler")
  h.Destination = folder
  Dim status
  On Error Resume Next
  status = h.HandleError("too big", 1e10)
  CheckErr "HandleError overflow does not raise", 0, "", ""
  Check "HandleError overflow status", status, 6
  status = h.HandleError("not a number", "abc")
  CheckErr "HandleError with text for the number", 13, "Microsoft VBScript runtime error", "Type mismatch"
  On Error GoTo 0
End Sub

SharedParameterTable
ConnectionAndApplication
FoldersAndLogs
StatusesAndArguments
WScript.Echo "RESULT errors: " & failures & " failures"
WScript.Quit failures
